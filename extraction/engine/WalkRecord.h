// Line walks from position 0 recorded once per angle, length and level. A walk that Aim sets up
// at a given angle, length and level and that starts at position 0 depends on nothing else, so
// a stage that walks the same directions many times walks each once and reuses its steps. The
// walk state is left as the real walks would have left it: Finish makes the last walk again and
// gives the cursor move of the walks not made, for the stage to apply.
#pragma once

#include "extraction/engine/Codex.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace wizard73 {

class WalkRecord {
public:
    explicit WalkRecord(Coral& walker) : m_walker(walker) {}

    // The steps of Breweb(angle, length, level) from position 0, closed by a zero step.
    const SStep* Walk(int angle, int length, int level)
    {
        const int a = Mod360(angle);
        Set& set = SetFor(length, level);
        SStep* steps = &set.steps[static_cast<std::size_t>(a) * set.stride];
        if (set.known[a] == 0) {
            Make(a, length, level, steps);
            set.known[a] = 1;
            m_cursorMove -= EndOffset(steps);
        }
        m_cursorMove += EndOffset(steps);
        m_last = &set;
        m_lastAngle = a;
        return steps;
    }

    // Makes the last walk again (so the walk position and line state are its) and returns how
    // far the walk cursor still has to move.
    std::ptrdiff_t Finish()
    {
        if (m_last != nullptr) {
            std::vector<SStep> steps(static_cast<std::size_t>(m_last->stride));
            Make(m_lastAngle, m_last->length, m_last->level, steps.data());
            m_cursorMove -= EndOffset(steps.data());
            m_last = nullptr;
        }
        const std::ptrdiff_t move = m_cursorMove;
        m_cursorMove = 0;
        return move;
    }

private:
    struct Set {
        int length;
        int level;
        int stride; // steps per angle: the walk and its closing zero step
        std::vector<SStep> steps;
        std::vector<unsigned char> known;
    };

    Set& SetFor(int length, int level)
    {
        for (const std::unique_ptr<Set>& s : m_sets) {
            if (s->length == length && s->level == level) {
                return *s;
            }
        }
        // A walk has at most its clamped length in steps (Aim clamps to 0..254).
        const int stride = (length < 0 ? 0 : length > 254 ? 254 : length) + 2;
        m_sets.push_back(std::make_unique<Set>(
            Set{length, level, stride, std::vector<SStep>(static_cast<std::size_t>(360) * stride),
                std::vector<unsigned char>(360, 0)}));
        return *m_sets.back();
    }

    void Make(int angle, int length, int level, SStep* steps)
    {
        m_walker.m_wx = m_walker.m_wy = m_walker.m_walkOff = 0;
        m_walker.Breweb(angle, length, level, steps);
    }

    // Offset at which a recorded walk from position 0 ends.
    static std::ptrdiff_t EndOffset(const SStep* steps)
    {
        std::ptrdiff_t off = 0;
        for (const SStep* s = steps; s->off != 0; ++s) {
            off = s->off;
        }
        return off;
    }

    Coral& m_walker;
    std::vector<std::unique_ptr<Set>> m_sets;
    std::ptrdiff_t m_cursorMove = 0;
    const Set* m_last = nullptr;
    int m_lastAngle = 0;
};

} // namespace wizard73
