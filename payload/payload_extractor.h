// The payload extractor: decompresses the bzip2 archive through a PayloadSink into the target
// folders, and the verifying pass that decompresses it without writing anything.
#pragma once

#include <istream>
#include <string>

#include "payload/payload_notification.h"

namespace engine {

// Runs one complete extraction of `payload` (read from its current position to its end). Returns
// true when every byte was consumed and written as the table describes; otherwise reports the
// failure once through `failed` and returns false. Never throws for failures of the run.
bool extract_payload(std::istream& payload, const std::wstring& installFolder,
                     const std::wstring& samplesFolder, const std::wstring& temporaryFolder,
                     const payload_callback& callback);

// Decompresses the whole of `payload` without storing anything; true when the bzip2 data is
// intact and the table passes the checks the extraction makes before writing anything (its size
// limit, plain names, sizes within 64 bits). Whether the data is as long as the table says is
// left to the extraction. The caller rewinds the stream before extracting.
bool verify_payload(std::istream& payload);

// The checks of verify_payload that concern the table alone, from the first decompressed bytes
// (the rest of the archive is not read): true when the table passes them or the stream ends
// before the table does (which the extraction then fails). For an archive whose bytes are proven
// otherwise.
bool verify_payload_table(std::istream& payload);

}  // namespace engine
