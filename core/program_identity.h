#pragma once

namespace velnoria {

// Who the program is: the texts its windows, its requests and the update check show.
inline constexpr const char* kVersionText = "2.2";
inline constexpr const char* kProgramCaption = "Velnoria Morvath v2.2";
inline constexpr const char* kHomePage = "http://www.velnoria.example/";
inline constexpr const char* kVersionFileUrl = "http://www.velnoria.example/velnoria/version.txt";
inline constexpr const char* kUserAgent = "Mozilla/5.0 (compatible; VelnoriaMorvath/2.2)";
inline constexpr const char* kSupportEmail = "support@velnoria.example";
inline constexpr const char* kCopyrightLine = "Copyright (C) 2026 Velnoria Morvath developers";
inline constexpr const char* kLogoToolTip = "Visit the Velnoria Morvath home page";

}  // namespace velnoria
