// The process-wide configuration record, read from "Pathlight.ini" beside the library.
//
// A load (init thread at start, keys thread on reload) fills a working record and publishes it
// whole as a new immutable record; a reader takes the record in force once per pass or frame and
// reads that one throughout, so it never sees half of a file nor a record changing under it.
//
// Sections: the record, its key list (the one place that names every INI key).
#pragma once

#include <cstdint>
#include <memory>

namespace pathlight {

// [Style] Renderer as stored in the settings: 0 Composition, 1 Present, 2 None.
enum class RendererChoice : std::int32_t { Composition = 0, Present = 1, None = 2 };

// Modifier bits of a binding and of the keys held down.
inline constexpr std::uint32_t kModCtrl = 1;
inline constexpr std::uint32_t kModShift = 2;
inline constexpr std::uint32_t kModAlt = 4;

struct KeyBinding {
  std::uint32_t key = 0;        // virtual-key code; 0 means unbound
  std::uint32_t modifiers = 0;  // kMod* bits; always 0 while unbound

  [[nodiscard]] bool Bound() const { return key != 0; }
  friend bool operator==(const KeyBinding&, const KeyBinding&) = default;
};

// Colours are packed with red in the lowest byte and alpha in the highest, the layout the 2D
// drawing library takes directly.
[[nodiscard]] constexpr std::uint32_t PackColour(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
  return r | (g << 8) | (b << 16) | (a << 24);
}

// [Debug]: switches for diagnosing the renderers and the scanner.
struct DebugSwitches {
  bool testPattern = false;
  bool drawRoads = false;
  bool scan = true;  // start only
  bool draw = true;  // start only
  bool noSwapchain = false;
  bool dxgiSurfaces = false;
  bool overlayWindow = false;
};

// [Offsets]: where the game-state readers find fields inside the game's objects (bytes from the
// object's start), and the two values that identify the waypoint icon.
struct GameOffsets {
  std::uint32_t minimapPlayerPosition = 0x340;
  std::uint32_t minimapZoom = 0x5B8;
  std::uint32_t minimapRotation = 0x570;
  std::uint32_t minimapHideWidget = 0x4A0;
  std::uint32_t minimapHideFlags = 0xBC;
  std::uint32_t minimapSize = 0x338;
  std::uint32_t minimapPosObject = 0x3A0;
  std::uint32_t minimapPos = 0x2F0;
  std::uint32_t worldMapOpen = 0xB35;
  std::uint32_t worldMapCenter = 0xAB8;
  std::uint32_t worldMapZoom = 0xB1C;
  std::uint32_t cameraObject = 0x50;
  std::uint32_t cameraRotation = 0x88;
  std::uint32_t cameraPosition = 0xC8;
  std::uint32_t cameraProjX = 8;
  std::uint32_t cameraProjY = 0x1C;
  std::uint32_t sessionPlayer = 0x30;
  std::uint32_t playerActor = 0x50;
  std::uint32_t sessionCamera = 0x18;
  std::uint32_t iconCategory = 0xD0;
  std::uint32_t iconPosition = 0xE0;
  std::uint32_t iconLive = 0x1B8;
  std::uint32_t iconKind = 0xDE;
  std::uint32_t waypointCategory = 22;
  std::uint32_t waypointKind = 3;
};

// The initial values are the defaults: a missing file or key leaves them as they are.
struct Settings {
  bool minimapEnabled = true;
  bool worldMapEnabled = true;
  bool minimapAutoCalibrate = true;
  bool worldEnabled = true;
  KeyBinding worldToggle{0xDD, 0};    // "]"
  KeyBinding minimapToggle{0xDB, 0};  // "["
  KeyBinding reloadKey{0xDC, 0};      // "\"
  float worldDistance = 50.0f;        // metres ahead of the player
  float worldWidth = 0.35f;
  float worldLift = 0.05f;
  float worldFadeNear = 20.0f;
  float worldOpacity = 0.45f;
  float worldCornerRadius = 4.0f;
  float worldNightOpacity = 0.25f;
  std::uint32_t worldColor = PackColour(0xFF, 0xE7, 0xA8, 0xFF);
  std::int32_t worldDlssCamera = -1;  // 0 off, all bits set on; start only
  bool worldOcclusion = true;
  float occlusionTolerance = 0.3f;
  float occlusionSlope = 0.08f;
  bool mountedOnly = true;
  float minimapCenterX = 148.0f;  // pixels
  float minimapCenterY = 943.75f;
  float minimapRadius = 100.0f;
  float minimapPixelsPerMeter = 3.55f;
  float worldMapZoomDivisor = 2.4f;
  std::int32_t minimapInterpolate = -1;  // -1 auto, 0 off, 1 on
  float minimapDelayMs = 0.0f;
  float minimapLineWidth = 3.0f;
  float outlineWidth = 1.5f;
  float worldMapLineWidth = 3.0f;
  float cornerRadius = 6.0f;
  std::uint32_t routeColor = PackColour(0xD1, 0x4D, 0x45, 0xF5);
  std::uint32_t outlineColor = PackColour(0x29, 0x19, 0x14, 0xD2);
  RendererChoice renderer = RendererChoice::Present;  // start only
  std::int32_t hdrMode = -1;                          // -1 auto, 0 SDR, 1 scRGB, 2 HDR10
  float hdrWhiteNits = 203.0f;
  DebugSwitches debug;
  float rerouteDistance = 25.0f;  // metres
  float offRoadWeight = 2.5f;
  float directMaxDistance = 60.0f;  // metres
  float horseRoadWeight = 1.0f;
  float wagonRoadWeight = 1.0f;  // also the walking weight of wide roads
  float sidewalkWeight = 1.1f;
  float connectorWeight = 1.3f;
  float mainRoadWeight = 0.9f;
  bool wagonRoutingEnabled = true;
  float wagonMainRoadWeight = 1.3f;
  float wagonWideRoadWeight = 0.6f;
  float wagonWagonRoadWeight = 1.3f;
  float wagonHorseRoadWeight = 2.5f;
  float wagonSidewalkWeight = 2.5f;
  float wagonConnectorWeight = 2.5f;
  float wagonOffRoadWeight = 4.0f;
  GameOffsets offsets;
};

// The settings in force, as one immutable record (never null; the defaults until the first
// load): a pass or a frame takes it once and reads that copy throughout.
using SettingsPtr = std::shared_ptr<const Settings>;
[[nodiscard]] SettingsPtr CurrentSettings();

// Makes a copy of `settings` the record in force; readers holding the previous one keep it until
// they let go. Called by the load (and by tests).
void PublishSettings(const Settings& settings);

// ---- key list ----------------------------------------------------------------------------------
//
// Every INI key with the field it fills, in the record's declared order. The visitor gets one call
// per key, by value kind:
//   Bool(section, key, bool&)              bool syntax
//   AllBits(section, key, int32_t&)        bool syntax, stored as 0 or all bits set
//   Unsigned(section, key, uint32_t&)      bool syntax, the number itself ([Offsets])
//   Float(section, key, float&)
//   Colour(section, key, uint32_t&)
//   Binding(section, key, KeyBinding&, defaultText)
//   Word(section, key, T&, WordKey)        the three word-valued keys (T: int32_t or RendererChoice)
// S is Settings or const Settings, so the same list serves reading and describing a record.

enum class WordKey { Interpolate, HdrMode, Renderer };

template <class S, class Visitor> void ForEachSettingsKey(S& s, Visitor& v) {
  v.Bool(L"Minimap", L"Enabled", s.minimapEnabled);
  v.Bool(L"WorldMap", L"Enabled", s.worldMapEnabled);
  v.Bool(L"Minimap", L"AutoCalibrate", s.minimapAutoCalibrate);
  v.Bool(L"World", L"Enabled", s.worldEnabled);
  v.Binding(L"World", L"ToggleKey", s.worldToggle, L"]");
  v.Binding(L"Minimap", L"ToggleKey", s.minimapToggle, L"[");
  v.Binding(L"Keys", L"ReloadKey", s.reloadKey, L"\\");
  v.Float(L"World", L"Distance", s.worldDistance);
  v.Float(L"World", L"Width", s.worldWidth);
  v.Float(L"World", L"Lift", s.worldLift);
  v.Float(L"World", L"FadeNear", s.worldFadeNear);
  v.Float(L"World", L"Opacity", s.worldOpacity);
  v.Float(L"World", L"CornerRadius", s.worldCornerRadius);
  v.Float(L"World", L"NightOpacity", s.worldNightOpacity);
  v.Colour(L"World", L"Color", s.worldColor);
  v.AllBits(L"World", L"DlssCamera", s.worldDlssCamera);
  v.Bool(L"World", L"Occlusion", s.worldOcclusion);
  v.Float(L"World", L"OcclusionTolerance", s.occlusionTolerance);
  v.Float(L"World", L"OcclusionSlope", s.occlusionSlope);
  v.Bool(L"World", L"MountedOnly", s.mountedOnly);
  v.Float(L"Minimap", L"CenterX", s.minimapCenterX);
  v.Float(L"Minimap", L"CenterY", s.minimapCenterY);
  v.Float(L"Minimap", L"Radius", s.minimapRadius);
  v.Float(L"Minimap", L"PixelsPerMeter", s.minimapPixelsPerMeter);
  v.Float(L"WorldMap", L"ZoomDivisor", s.worldMapZoomDivisor);
  v.Word(L"Minimap", L"Interpolate", s.minimapInterpolate, WordKey::Interpolate);
  v.Float(L"Minimap", L"DelayMs", s.minimapDelayMs);
  v.Float(L"Minimap", L"LineWidth", s.minimapLineWidth);
  v.Float(L"Style", L"OutlineWidth", s.outlineWidth);
  v.Float(L"WorldMap", L"LineWidth", s.worldMapLineWidth);
  v.Float(L"Style", L"CornerRadius", s.cornerRadius);
  v.Colour(L"Style", L"Color", s.routeColor);
  v.Colour(L"Style", L"OutlineColor", s.outlineColor);
  v.Word(L"Style", L"Renderer", s.renderer, WordKey::Renderer);
  v.Word(L"Style", L"HdrMode", s.hdrMode, WordKey::HdrMode);
  v.Float(L"Style", L"HdrWhiteNits", s.hdrWhiteNits);
  v.Bool(L"Debug", L"TestPattern", s.debug.testPattern);
  v.Bool(L"Debug", L"DrawRoads", s.debug.drawRoads);
  v.Bool(L"Debug", L"Scan", s.debug.scan);
  v.Bool(L"Debug", L"Draw", s.debug.draw);
  v.Bool(L"Debug", L"NoSwapchain", s.debug.noSwapchain);
  v.Bool(L"Debug", L"DxgiSurfaces", s.debug.dxgiSurfaces);
  v.Bool(L"Debug", L"OverlayWindow", s.debug.overlayWindow);
  v.Float(L"Routing", L"RerouteDistance", s.rerouteDistance);
  v.Float(L"Routing", L"OffRoadWeight", s.offRoadWeight);
  v.Float(L"Routing", L"DirectMaxDistance", s.directMaxDistance);
  v.Float(L"Routing", L"HorseRoadWeight", s.horseRoadWeight);
  v.Float(L"Routing", L"WagonRoadWeight", s.wagonRoadWeight);
  v.Float(L"Routing", L"SidewalkWeight", s.sidewalkWeight);
  v.Float(L"Routing", L"ConnectorWeight", s.connectorWeight);
  v.Float(L"Routing", L"MainRoadWeight", s.mainRoadWeight);
  v.Bool(L"WagonRouting", L"Enabled", s.wagonRoutingEnabled);
  v.Float(L"WagonRouting", L"MainRoadWeight", s.wagonMainRoadWeight);
  v.Float(L"WagonRouting", L"WideRoadWeight", s.wagonWideRoadWeight);
  v.Float(L"WagonRouting", L"WagonRoadWeight", s.wagonWagonRoadWeight);
  v.Float(L"WagonRouting", L"HorseRoadWeight", s.wagonHorseRoadWeight);
  v.Float(L"WagonRouting", L"SidewalkWeight", s.wagonSidewalkWeight);
  v.Float(L"WagonRouting", L"ConnectorWeight", s.wagonConnectorWeight);
  v.Float(L"WagonRouting", L"OffRoadWeight", s.wagonOffRoadWeight);
  auto& o = s.offsets;
  v.Unsigned(L"Offsets", L"MinimapPlayerPosition", o.minimapPlayerPosition);
  v.Unsigned(L"Offsets", L"MinimapZoom", o.minimapZoom);
  v.Unsigned(L"Offsets", L"MinimapRotation", o.minimapRotation);
  v.Unsigned(L"Offsets", L"MinimapHideWidget", o.minimapHideWidget);
  v.Unsigned(L"Offsets", L"MinimapHideFlags", o.minimapHideFlags);
  v.Unsigned(L"Offsets", L"MinimapSize", o.minimapSize);
  v.Unsigned(L"Offsets", L"MinimapPosObject", o.minimapPosObject);
  v.Unsigned(L"Offsets", L"MinimapPos", o.minimapPos);
  v.Unsigned(L"Offsets", L"WorldMapOpen", o.worldMapOpen);
  v.Unsigned(L"Offsets", L"WorldMapCenter", o.worldMapCenter);
  v.Unsigned(L"Offsets", L"WorldMapZoom", o.worldMapZoom);
  v.Unsigned(L"Offsets", L"CameraObject", o.cameraObject);
  v.Unsigned(L"Offsets", L"CameraRotation", o.cameraRotation);
  v.Unsigned(L"Offsets", L"CameraPosition", o.cameraPosition);
  v.Unsigned(L"Offsets", L"CameraProjX", o.cameraProjX);
  v.Unsigned(L"Offsets", L"CameraProjY", o.cameraProjY);
  v.Unsigned(L"Offsets", L"SessionPlayer", o.sessionPlayer);
  v.Unsigned(L"Offsets", L"PlayerActor", o.playerActor);
  v.Unsigned(L"Offsets", L"SessionCamera", o.sessionCamera);
  v.Unsigned(L"Offsets", L"IconCategory", o.iconCategory);
  v.Unsigned(L"Offsets", L"IconPosition", o.iconPosition);
  v.Unsigned(L"Offsets", L"IconLive", o.iconLive);
  v.Unsigned(L"Offsets", L"IconKind", o.iconKind);
  v.Unsigned(L"Offsets", L"WaypointCategory", o.waypointCategory);
  v.Unsigned(L"Offsets", L"WaypointKind", o.waypointKind);
}

}  // namespace pathlight
