#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pealix {

// Average power of the most recent stretch of 16-bit samples, in decibels
// relative to full scale: 0 for a full-scale square wave, about -3 for a
// full-scale sine, negative below, and `silenceFloor` for digital silence.
//
// The reading changes only on update(), so a meter that polls it sees one
// consistent value per poll.
class AudioPowerMeter
{
public:
    static constexpr float silenceFloor = -160.0f;
    // 50 ms at 44.1 kHz: a little shorter than the 60 ms poll, so each poll
    // shows fresh sound rather than an average smeared across polls.
    static constexpr std::size_t defaultWindow = 2205;

    explicit AudioPowerMeter(std::size_t windowSamples = defaultWindow);

    void push(const int16_t *samples, std::size_t count);
    // Takes the reading of the samples now in the window.
    void update();
    float averagePower() const { return m_power; }
    void reset();

private:
    std::vector<int16_t> m_window;
    std::size_t m_next = 0;
    std::size_t m_filled = 0;
    float m_power = silenceFloor;
};

} // namespace pealix
