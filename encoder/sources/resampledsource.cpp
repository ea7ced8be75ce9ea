#include "sources/resampledsource.h"

#include "common/encodeerror.h"
#include "sources/samplecleaner.h"

#include <soxr.h>

#include <algorithm>
#include <string>

ResampledSource::ResampledSource(std::unique_ptr<AudioSource> inner, int outputRate, double passbandHz)
    : m_inner(std::move(inner))
    , m_outputRate(outputRate)
    , m_channels(m_inner->channels())
    , m_input(chunkFrames(m_channels) * static_cast<std::size_t>(m_channels))
    , m_chunkFrames(chunkFrames(m_channels))
{
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    if (passbandHz > 0) {
        // Fractions of the lower rate's Nyquist frequency.
        const double nyquist = std::min(m_inner->sampleRate(), outputRate) / 2.0;
        quality.passband_end = std::clamp(passbandHz / nyquist, 0.5, 0.99);
        quality.stopband_begin = std::min(1.0, quality.passband_end + 0.01);
    }
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    m_soxr = soxr_create(m_inner->sampleRate(), outputRate, static_cast<unsigned>(m_channels), &error, &io,
        &quality, &runtime);
    if (!m_soxr)
        throw EncodeError("cannot convert " + std::to_string(m_inner->sampleRate()) + " Hz to "
                          + std::to_string(outputRate) + " Hz: " + (error ? error : "unknown error"));
}

ResampledSource::~ResampledSource()
{
    soxr_delete(m_soxr);
}

std::size_t ResampledSource::read(float* interleaved, std::size_t maxFrames)
{
    const std::size_t channels = static_cast<std::size_t>(m_channels);
    for (;;) {
        if (m_inputUsed == m_inputFrames && !m_innerDone) {
            m_inputFrames = m_inner->read(m_input.data(), m_chunkFrames);
            m_inputUsed = 0;
            m_innerDone = m_inputFrames == 0;
            SampleCleaner::clean(m_input.data(), m_inputFrames * channels);
        }
        // No input (a null pointer) tells the resampler the sound has ended: it then gives
        // out what its filter still holds.
        const float* in = m_innerDone ? nullptr : m_input.data() + m_inputUsed * channels;
        std::size_t taken = 0;
        std::size_t made = 0;
        const soxr_error_t error = soxr_process(m_soxr, in, m_inputFrames - m_inputUsed, &taken, interleaved,
            maxFrames, &made);
        if (error)
            throw EncodeError(std::string("cannot convert the sample rate: ") + error);
        m_inputUsed += taken;
        if (made > 0 || m_innerDone)
            return made;
    }
}
