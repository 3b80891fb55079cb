#pragma once

#include <QString>
#include <QtGlobal>

// The layout of an upgrade package: a 256-byte header of plain-text fields,
// then the image enciphered by TLb3DES with the key made from the pass phrase.
namespace PackageFormat {

inline constexpr qsizetype HeaderSize = 256;
inline constexpr int FileVersion = 1; // written by the builder, never read

inline QString magic() { return QStringLiteral("ID:Quorvantix"); }
// Not in the package: the reader and the builder both know it.
inline QString passphrase() { return QStringLiteral("Tavrel Onyx Ledger"); }

} // namespace PackageFormat
