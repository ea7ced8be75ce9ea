#pragma once
#include <QString>

// Where the encoder is: beside the program in a build tree or a portable copy, in the
// installed folder of its own in an installed copy. Every process the batch starts (a
// conversion, the facts and loudness readers, a folder picture) is this program.
class EncoderProgram {
public:
    static QString Folder();
    static QString Path();
};
