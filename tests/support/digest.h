// Digests of bytes a test produced (templates, WSQ streams, tables, images), kept per build so
// that tools/digests.sh can check that every build target produced the very same bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zftest {

// Records the 64-bit FNV-1a digest and the size of `bytes` under "<Suite>.<Test>/<what>" in the
// build's digests/ folder (environment ZF_DIGEST_DIR overrides it). Every target must record
// the same digest under the same key, so a key names its input: a run reduced under emulation
// (emulation.h) that takes fewer inputs compares on those it takes, and one that shrinks an
// input puts the size in the key.
void RecordDigest(const std::string& what, const void* bytes, std::size_t size);
void RecordDigest(const std::string& what, const std::vector<unsigned char>& bytes);

// The same for bytes that may differ between targets for a known `cause` (for instance a libm
// function that rounds its last bit differently): tools/digests.sh lists such a difference
// with its cause instead of failing.
void RecordDigestMayDiffer(const std::string& what, const std::string& cause, const void* bytes,
                           std::size_t size);

// 64-bit FNV-1a of `size` bytes.
unsigned long long Fnv1a64(const void* bytes, std::size_t size);

} // namespace zftest
