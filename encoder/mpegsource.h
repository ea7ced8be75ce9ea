#pragma once

#include "audiosource.h"

#include <cstdint>
#include <string>

struct mpg123_handle_struct;

// MPEG audio layers I, II and III through libmpg123, decoded to float at the stream's first
// format. Takes ownership of the file descriptor.
class MpegSource : public AudioSource {
public:
    MpegSource(int fd, const std::string& path);
    ~MpegSource() override;
    MpegSource(const MpegSource&) = delete;
    MpegSource& operator=(const MpegSource&) = delete;

    int sampleRate() const override { return m_rate; }
    int channels() const override { return m_channels; }
    Container container() const override { return Container::Mpeg; }
    std::size_t read(float* interleaved, std::size_t maxFrames) override;
    double progress() const override;

private:
    [[noreturn]] void fail(const std::string& what) const;

    int m_fd;
    std::string m_path;
    mpg123_handle_struct* m_handle = nullptr;
    int m_rate = 0;
    int m_channels = 0;
    std::int64_t m_fileSize = 0;
    bool m_done = false;
};
