#pragma once

#include <QWidget>

namespace pealix {

// The microphone level as a red bar on a faint track, both with round ends.
// At level 0 a sliver stays visible, so the user sees the meter is live.
class LevelMeter : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(float level READ level WRITE setLevel)
public:
    explicit LevelMeter(QWidget *parent = nullptr);

    float level() const { return m_level; }
    void setLevel(float level);

    // The width of the red bar for the current level and width.
    int fillWidth() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    float m_level = 0;
};

} // namespace pealix
