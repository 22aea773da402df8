#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

namespace murel {

// A file size as people read it in a file manager: decimal units (1,000,000,000
// bytes are "1 GB"), whole kilobytes, one decimal for megabytes and two from
// gigabytes up, trailing zeros dropped ("264.5 MB", "1 MB", "3.66 GB"). A value
// that rounds up to 1,000 of a unit is shown in the next one ("1 MB", not
// "1,000 KB"). Negative sizes read as zero.
QString fileByteCountText(std::int64_t bytes, const QLocale& locale = QLocale());

}  // namespace murel
