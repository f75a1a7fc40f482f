// Line walks from position 0 recorded once per angle, length, level and form. A walk that Aim
// sets up at a given angle, length and level and that starts at position 0 depends on nothing
// else, so a stage that walks the same directions many times walks each once and reuses its
// steps. The walk state is left as the real walks would have left it: Finish makes the last
// walk again and moves the walk cursor by the walks not made.
#pragma once

#include "extraction/engine/Codex.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace wizard73 {

class WalkRecord {
public:
    // What a walk records of its steps: offsets and positions (Breweb), or offsets alone
    // (Breweb_Furiew, which leaves the walk position as it was).
    enum class Form { Positions, Offsets };

    // The walks of one length, level and form, for a stage that walks them in its inner loops
    // to hold instead of naming them on every walk.
    class Set {
    public:
        Set(int length, int level, Form form)
            : m_length(length), m_level(level), m_form(form),
              // A walk has at most its clamped length in steps (Aim clamps to 0..254).
              m_stride((length < 0     ? 0
                        : length > 254 ? 254
                                       : length) +
                       2),
              m_steps(static_cast<std::size_t>(360) * m_stride), m_end(360, 0), m_known(360, 0)
        {
        }

    private:
        friend class WalkRecord;
        int m_length;
        int m_level;
        Form m_form;
        int m_stride; // steps per angle: the walk and its closing zero step
        std::vector<SStep> m_steps;
        std::vector<std::ptrdiff_t> m_end; // offset at which each recorded walk ends
        std::vector<unsigned char> m_known;
    };

    explicit WalkRecord(Coral& walker) : m_walker(walker) {}

    // The record of the walks of this length, level and form; it lives as long as the record.
    Set& For(int length, int level, Form form = Form::Positions)
    {
        for (const std::unique_ptr<Set>& s : m_sets) {
            if (s->m_length == length && s->m_level == level && s->m_form == form) {
                return *s;
            }
        }
        m_sets.push_back(std::make_unique<Set>(length, level, form));
        return *m_sets.back();
    }

    // The steps of the set's walk at `angle` from position 0, closed by a zero step.
    const SStep* Walk(Set& set, int angle)
    {
        const int a = Mod360(angle);
        bool made = false;
        const SStep* steps = StepsAt(set, a, made);
        if (!made) {
            m_cursorMove += set.m_end[a]; // a walk made moves the walk cursor itself
        }
        m_last = &set;
        m_lastAngle = a;
        return steps;
    }

    // The steps of Breweb(angle, length, level) from position 0, closed by a zero step.
    const SStep* Walk(int angle, int length, int level) { return Walk(For(length, level), angle); }

    // For a stage that walks many times and accounts for its walks in bulk: the steps of the
    // set's walk at `angle` (made when first asked for) without counting it as walked; Count
    // then accounts for its walks and Last names the last one.
    const SStep* Steps(Set& set, int angle)
    {
        const int a = Mod360(angle);
        bool made = false;
        const SStep* steps = StepsAt(set, a, made);
        if (made) {
            m_cursorMove -= set.m_end[a]; // making it moved the walk cursor: Count moves it
        }
        return steps;
    }

    // Accounts for n walks of the set at `angle` as if each were walked (in any order).
    void Count(Set& set, int angle, std::size_t n)
    {
        Steps(set, angle);
        m_cursorMove +=
            set.m_end[static_cast<std::size_t>(Mod360(angle))] * static_cast<std::ptrdiff_t>(n);
    }

    // Names the set's walk at `angle` (walked or counted) as the last walk made.
    void Last(Set& set, int angle)
    {
        m_last = &set;
        m_lastAngle = Mod360(angle);
    }

    // Makes the last walk again (so the walk position and line state are its) and moves the
    // walk cursor by the walks not made.
    void Finish()
    {
        if (m_last != nullptr) {
            std::vector<SStep> steps(static_cast<std::size_t>(m_last->m_stride));
            Make(*m_last, m_lastAngle, steps.data());
            m_cursorMove -= m_last->m_end[m_lastAngle];
            m_last = nullptr;
        }
        if (m_walker.m_walk[0] != nullptr) {
            m_walker.m_walk[0] += m_cursorMove;
        }
        m_cursorMove = 0;
    }

private:
    // The steps of the set's walk at angle a (0..359), made here (made true) when first asked
    // for; making a walk moves the walk cursor as walking it does.
    SStep* StepsAt(Set& set, int a, bool& made)
    {
        SStep* steps = &set.m_steps[static_cast<std::size_t>(a) * set.m_stride];
        made = set.m_known[a] == 0;
        if (made) {
            Make(set, a, steps);
            set.m_known[a] = 1;
            set.m_end[a] = EndOffset(steps);
        }
        return steps;
    }

    void Make(const Set& set, int angle, SStep* steps)
    {
        m_walker.m_wx = m_walker.m_wy = m_walker.m_walkOff = 0;
        if (set.m_form == Form::Positions) {
            m_walker.Breweb(angle, set.m_length, set.m_level, steps);
        } else {
            m_walker.Breweb_Furiew(angle, set.m_length, set.m_level, steps);
        }
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
