#pragma once

// Which output files a recording may write, decided before anything is
// opened: an output that is the input (also through links), the same file
// given twice, or an existing file without permission to replace it is a
// usage error. Then how each output is opened: new files exclusively, and
// with permission a new file beside the old one that takes its place when
// the recording closes, so that a failed or refused run leaves every
// existing file as it was.

#include <QString>
#include <QStringList>

#include "recording/output_file.h"

namespace tx710 {

class OutputTargets
{
public:
    // An empty text when the outputs may be written, else what is wrong
    // ("a.txt exists; give --overwrite to replace it").
    // `outputs` are the file names as written (a {device} name expanded);
    // `inputs` the ports or the replayed file.
    static QString check(const QStringList& outputs, const QStringList& inputs, bool overwrite);

    // How to open an output that check() accepted.
    static OutputFile::Mode openMode(bool overwrite)
    {
        return overwrite ? OutputFile::Mode::Replace : OutputFile::Mode::CreateNew;
    }
};

} // namespace tx710
