#pragma once

#include "engine/KeyEventSource.h"

namespace pealix::test {

// A key source the test types into directly.
class FakeKeyEventSource : public KeyEventSource
{
    Q_OBJECT
public:
    explicit FakeKeyEventSource(bool global, bool canStart = true) : m_global(global), m_canStart(canStart) {}

    bool start() override
    {
        ++starts;
        if (!m_canStart)
            setProblem(QStringLiteral("refused"));
        m_active = m_canStart;
        return m_canStart;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }
    bool isGlobal() const override { return m_global; }

    void type(quint32 keyCode, quint32 modifiers, bool pressed, quint64 timestamp = 0)
    {
        Q_EMIT keyEvent(KeyEvent{keyCode, modifiers, timestamp}, pressed);
    }

    int starts = 0;

private:
    bool m_global;
    bool m_canStart;
    bool m_active = false;
};

} // namespace pealix::test
