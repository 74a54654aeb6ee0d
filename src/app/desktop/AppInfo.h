// Who makes Quillet and where its users find it: the texts and addresses
// the about box and the Help menu show.
#pragma once

// The version comes from the build (the project's version in CMake).
#ifndef QUILLET_VERSION
#define QUILLET_VERSION "1.1"
#endif
inline constexpr char kProgramVersion[] = QUILLET_VERSION;
// The program's name and version as the about box shows them.
inline constexpr char kProgramTitle[] = "Veltrax Quillet " QUILLET_VERSION;

// The maker's pages, opened in the user's browser.
inline constexpr char kHomePageURL[] = "https://quillet.veltrax.example/";
inline constexpr char kSupportURL[] = "https://quillet.veltrax.example/support";
// The home address as a person reads it, for the about box's link.
inline constexpr char kHomePageCaption[] = "quillet.veltrax.example";

// The reverse-DNS application id: the name of the desktop entry, the icon,
// the AppStream component and the autostart entry.
#ifdef QUILLET_APP_ID
inline constexpr char kAppId[] = QUILLET_APP_ID;
#else
inline constexpr char kAppId[] = "io.veltrax.Quillet";
#endif
