#pragma once
#include <QString>

#include <string>
#include <vector>

class QProcess;

// Where the encoder is: beside the program in a build tree or a portable copy, in the
// installed folder of its own in an installed copy. Every process the batch starts (a
// conversion, the facts and loudness readers, a folder picture) is this program.
class EncoderProgram {
public:
    static QString Folder();
    static QString Path();
    // Sets the process up to start the encoder with these arguments, byte for byte. Paths are
    // bytes: a source named in Latin-1 ("Caf\xe9.wav") has no QString that Qt would give back
    // as those bytes, so an argument that is not UTF-8 is handed to the encoder by the
    // starting process itself, exactly (the process's own argument list shows it as text).
    static void SetCommand(QProcess& process, const std::vector<std::string>& arguments);
};
