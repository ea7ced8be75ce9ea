#pragma once

#include "sources/audiosource.h"

#include <memory>
#include <string>

// Opens a source file and chooses its decoder (AudioSource) by its content, never by the
// file name's extension: FLAC, Ogg Vorbis, Ogg Opus and MPEG audio each by their own
// library, everything else by libsndfile.
class SourceOpener {
public:
    // Opens path read-only and picks the decoder by its content. Throws EncodeError with a
    // user-facing reason ("not an audio file", "not a regular file", "cannot read ...").
    static std::unique_ptr<AudioSource> open(const std::string& path);
    // The checks of open() without choosing a decoder: a descriptor (close-on-exec, the
    // caller closes it) of a regular, non-empty file. Throws EncodeError like open().
    static int openFile(const std::string& path);
};
