#pragma once

// The application icon in the compiled-in images: every window and notice carries it.
inline constexpr char appIconPath[] = ":/img/logos/Vantyx_app_icon.png";
