#pragma once

#include <string>

// A folder's cover picture as it goes along into an output folder (`fastencc --picture`):
// fitted into 600 x 600 as a baseline JPEG by the rule embedded covers follow (CoverScaler),
// so a player that shows folder art shows it, and written as safely as an output. A file
// that stands at the target already (the user's own picture, or one an earlier batch wrote)
// is never replaced.
class FolderCover {
public:
    // Throws EncodeError: the picture cannot be read or decoded within CoverScaler's limits,
    // or the target cannot be written (its exit status as for an output).
    static void write(const std::string& source, const std::string& target);
};
