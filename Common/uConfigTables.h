// Texts shown for stored configuration values, the scrambling of the stored
// login, and small helpers shared by the configuration records.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Classes.h"

// Indexed by the stored value.
inline constexpr std::array<const char*, 5> DenyActionNames = {
    "Send denied 401", "Try Next Domain", "Close Connection", "Send File", "Not Denied"};
inline constexpr std::array<const char*, 9> MatchStatusNames = {
    "Not processed", "Unfilled", "Filled", "FilledVPath", "Banned", "BannedVPath", "Forbidden", "Redirect",
    "RedirectHTTPS"};
inline constexpr std::array<const char*, 3> CheckMethodNames = {"Simply open socket", "Perform GET document", ""};
inline constexpr std::array<const char*, 4> SSLVersionNames = {"SSL Version 2", "SSL Version 2 and 3",
                                                                "SSL Version 3", "TLS Version 1"};

// A stored byte can hold any value a file gives it; one outside the table
// shows as an empty text.
template <size_t N>
const char* TableText(const std::array<const char*, N>& table, int64_t value) {
  return value >= 0 && static_cast<uint64_t>(value) < N ? table[static_cast<size_t>(value)] : "";
}
inline const char* DenyActionText(int64_t v) { return TableText(DenyActionNames, v); }
inline const char* MatchStatusText(int64_t v) { return TableText(MatchStatusNames, v); }
inline const char* CheckMethodText(int64_t v) { return TableText(CheckMethodNames, v); }
inline const char* SSLVersionText(int64_t v) { return TableText(SSLVersionNames, v); }

// Keys of the stored user name and password.
inline constexpr std::string_view UserNameKey = "Tq7vXm3Rk9wLp2Zs8Hd4Nc6Jf1Gb5Yt0Ua3Ve7Wi2Ox9Qr4Ek8";
inline constexpr std::string_view PasswordKey = "Bm4!Rt8#Kw2$Lp6%Zx9&Hs3*Nd7(Jf1)Gq5+Yc0=Ua2?Ve8@WiOx";

// Byte i of the result is Text[i] XOR Key[(i + 1) mod length(Key)]; its own
// inverse. An empty key leaves the text unchanged.
std::string XorString(std::string_view text, std::string_view key);

// A random identity of a domain or virtual path: 1..2147483646.
int32_t NewConfigId();

// Removes every empty line.
void CleanHeaderList(TStringList& list);
// Every run of "/" becomes one "/". Linear: request paths reach it.
std::string CollapseSlashes(std::string_view text);
