#include "audio/AudioPowerMeter.h"

#include <algorithm>
#include <cmath>

namespace pealix {

AudioPowerMeter::AudioPowerMeter(std::size_t windowSamples) : m_window(std::max<std::size_t>(1, windowSamples))
{
}

void AudioPowerMeter::push(const int16_t *samples, std::size_t count)
{
    const std::size_t size = m_window.size();
    if (count >= size) {
        // Only the newest window's worth can matter.
        std::copy(samples + (count - size), samples + count, m_window.begin());
        m_next = 0;
        m_filled = size;
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        m_window[m_next] = samples[i];
        m_next = (m_next + 1) % size;
    }
    m_filled = std::min(size, m_filled + count);
}

void AudioPowerMeter::update()
{
    if (m_filled == 0) {
        m_power = silenceFloor;
        return;
    }
    // Before the window has filled, the samples sit at the start of the ring.
    double sum = 0;
    for (std::size_t i = 0; i < m_filled; ++i) {
        const double s = m_window[i] / 32768.0;
        sum += s * s;
    }
    const double meanSquare = sum / double(m_filled);
    if (meanSquare <= 0) {
        m_power = silenceFloor;
        return;
    }
    m_power = std::max(silenceFloor, float(10.0 * std::log10(meanSquare)));
}

void AudioPowerMeter::reset()
{
    std::fill(m_window.begin(), m_window.end(), int16_t(0));
    m_next = 0;
    m_filled = 0;
    m_power = silenceFloor;
}

} // namespace pealix
