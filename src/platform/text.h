// Text conversion at the edges: the system's text is UTF-16 (std::u16string);
// wire data and file bytes are std::string.
#pragma once

#include <string>
#include <string_view>

namespace tav::text {

// UTF-8 bytes to text; invalid sequences become U+FFFD.
std::u16string FromUtf8(std::string_view bytes);
// Text to UTF-8; a lone surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// The host's ANSI code page is Windows-1252. Characters it lacks become "?".
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(std::string_view bytes);

// Byte b read as the character U+00b.
std::u16string FromLatin1(std::string_view bytes);

// One byte per character, every byte in 0..127: ASCII stays, Latin letters lose
// their accents, a few punctuation look-alikes are kept, everything else is "?".
std::string ToAsciiBestFit(std::u16string_view text);

// Decoding and encoding by an HTTP charset name. Only names and aliases of the
// IANA registry count (compared without regard to case); any other name, and the
// empty one, give the 8-bit mapping (byte b is U+00b; above U+00FF writes "?").
std::u16string Decode(std::string_view bytes, std::string_view charset);
std::string Encode(std::u16string_view text, std::string_view charset);
// The canonical registry name for a charset name, or empty when it is not one we support.
std::string CanonicalCharset(std::string_view charset);

// ASCII-only case helpers used by the protocol code.
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);
bool EqualsNoCaseAscii(std::u16string_view a, std::u16string_view b);
// Without regard to case in the Unicode sense (file and INI names).
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
std::string UpperAscii(std::string_view text);
std::u16string UpperAscii(std::u16string_view text);
// Trims every character up to and including the blank (controls too), as the INI and HTTP code expect.
std::string_view Trim(std::string_view text);
std::u16string_view Trim(std::u16string_view text);

// Plain ASCII literal to text (for messages built from constants).
std::u16string Ascii(std::string_view ascii);

}  // namespace tav::text
