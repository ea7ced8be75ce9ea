#pragma once
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>

namespace vardune {

// Output paths that an encoder writes, or that a batch has given out, compared as the output
// folder's file system may compare them. A player's FAT or exFAT card takes "Song.mp3" and
// "SONG.mp3" for one file, and the program cannot always tell what file system a folder lies
// on; so names that differ only in letter case count as one. Numbering one more output is
// harmless; two encoders writing one file lose one of them.
class TakenNames {
public:
    // Folds a path to the form in which two paths that may name one file are equal. The
    // default folds ASCII letters only; the window side gives a full Unicode folding.
    using Fold = std::function<std::string(const std::string&)>;

    explicit TakenNames(Fold fold = AsciiFold);

    static std::string AsciiFold(const std::string& path);

    bool Contains(const std::string& path) const;
    // A path may be taken more than once (an encoder of an ended batch and one of this batch
    // would never both get it, but counting keeps a release from freeing another's name).
    void Take(const std::string& path);
    void Release(const std::string& path);
    const Fold& Folding() const { return fold_; }

private:
    Fold fold_;
    std::unordered_map<std::string, int> taken_;  // by folded path
    // Each path taken, with the folded path it was taken under and how often: folding may
    // look at the file system, which can change before the path is released (its folder
    // removed), and a release must free what the take took.
    std::unordered_map<std::string, std::pair<std::string, int>> paths_;
};

} // namespace vardune
