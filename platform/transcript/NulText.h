#pragma once

// How a NUL byte reads wherever received bytes become characters (shown,
// copied, searched, tested as a proxy's reply): as the four characters
// "\x00", so that it can be seen and typed back. Every other byte is one
// character.

namespace platform::transcript {

inline constexpr char16_t kNulText[] = u"\\x00";
inline constexpr int kNulChars = 4;
// Characters a NUL adds beyond the one its byte would give.
inline constexpr int kNulExtraChars = kNulChars - 1;

} // namespace platform::transcript
