#pragma once

#include "facts/encodedsize.h"

#include <taglib/tbytevector.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <utility>

// `fastencc --facts`: what a caller needs to know of sources before it converts them, read
// from their headers and tags without decoding them: the playing time, and the size of the
// output at every MP3 bitrate, stereo and mono, as a conversion would write it (a copy where
// the source is already small enough, else LAME's frames after the same tag, at the bitrate
// the source keeps it to where it is smaller than the one asked). A batch can then say how
// much room its outputs take before it starts.
class SourceFacts {
public:
    // One line, without its newline:
    //   ok <TAB> SECONDS <TAB> BITS:STEREO:MONO <TAB> ...   (one field per MP3 bitrate)
    //      [<TAB> tag:KEY=VALUE ...]                        (the tags names are made of)
    //   error <TAB> REASON
    // SECONDS with three decimals, followed by "+" where the length could not be measured
    // (what is known to be there: a reader that ignores the mark reads the least); STEREO
    // and MONO the forecast bytes of the output at BITS bit/s without and with -dm (0 where
    // the encoder cannot write that bitrate). KEY is ARTIST, ALBUMARTIST, ALBUM, TITLE,
    // TRACKNUMBER, DISCNUMBER, DATE or GENRE, each at most once, for the tags the source has;
    // VALUE is UTF-8 of at most 1024 bytes, a tab, line break or backslash in it written as
    // \t, \n, \r or \\, other control characters left out.
    std::string lineFor(const std::string& path);

    // Reads sources from in, each ended by a NUL byte (the last may end at the end of the
    // input), and writes one line for each to out, flushed at once so the caller can show
    // a figure while the rest is read. Returns the process's exit status.
    int run(std::FILE* in, std::FILE* out);

private:
    // The bytes a cover that needs scaling comes to once scaled, 0 when it is left out.
    std::size_t scaledCoverSize(const TagLib::ByteVector& picture);

    EncodedSize m_sizes;
    std::map<std::pair<std::size_t, std::size_t>, std::size_t> m_coverSizes; // by hash and length
};
