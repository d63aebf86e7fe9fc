#pragma once

// The decoder's test seam, not part of the program's interface: decoders for
// tests and benchmarks with the data files in a folder of the caller's
// choosing.

#include <memory>

#include "SerialPort/serial_data.h"

class SerialDataTestAccess
{
public:
    struct Deleter {
        // Waits for a data writer still running.
        void operator()(SerialData* decoder) const { delete decoder; }
    };
    using Decoder = std::unique_ptr<SerialData, Deleter>;

    // A fresh decoder; a non-empty `data_directory` replaces the data folder.
    static Decoder create(const QString& data_directory = QString())
    {
        Decoder decoder(SerialData::create().release());
        decoder->data_directory_override_ = data_directory;
        return decoder;
    }
};
