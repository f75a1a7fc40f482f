// Tells a test whether it runs under an instruction-set emulator (the cross build's qemu-arm
// sets ZF_EMULATED=1), where the slowest tests take a smaller input and say so.
#pragma once

namespace zftest {

// True when ZF_EMULATED is set to a value other than "" or "0".
bool Emulated();

// `full` natively; `reduced` under emulation. Called inside a test: a reduced run records the
// test property "emulated_input" ("reduced <r> of <full>") and prints it, so the shrunk run
// shows in the test output and the XML report.
int InputSize(int full, int reduced);

} // namespace zftest
