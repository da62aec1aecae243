// Conversions between the core's types and Qt's: UTF-16 text, and the layout
// tables' places.
#pragma once

#include <QRect>
#include <QString>
#include <string>
#include <string_view>

#include "host/layout.h"

namespace tav::host {

inline QString Q(std::u16string_view s) { return QString(reinterpret_cast<const QChar *>(s.data()), static_cast<qsizetype>(s.size())); }
inline std::u16string U(const QString &s) { return std::u16string(reinterpret_cast<const char16_t *>(s.utf16()), static_cast<std::size_t>(s.size())); }
inline QRect Q(const layout::Place &place) { return QRect(place.left, place.top, place.width, place.height); }

}  // namespace tav::host
