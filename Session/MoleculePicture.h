// What the molecule view draws: where the molecules are, as seen from +z
// through the slab |z| <= InnerRib, inside the outlines of both cubes, copied
// from the engine at one moment, and the lines of text that go with it. The
// window and the browser page draw the same picture. Plain C++.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TVolume;

// Where a molecule of the picture is, in units of the outer rib: -1 .. 1 on
// both axes, y upwards.
struct TViewPoint {
  float U = 0.0f;
  float V = 0.0f;
  bool operator==(const TViewPoint& o) const { return U == o.U && V == o.V; }
};

// What the view draws, copied from the engine at one moment.
struct TMoleculePicture {
  // Ribs that can be drawn: an outer rib > 0 and an inner one in 0 < b1 <= b0.
  // Otherwise the picture is an empty frame.
  bool Drawable = false;
  double OuterRib = 0.0;  // m, as the engine held them
  double InnerRib = 0.0;
  std::int64_t Active = 0;  // active molecules of all species
  std::int64_t Stride = 1;  // every Stride-th active slot of each species was read
  // Of the molecules read: those in the slab, those of them inside the inner
  // cube (strictly, as the step counts them) and those on the x or y outer wall.
  std::int64_t InSlab = 0;
  std::int64_t Inside = 0;
  std::int64_t OnWall = 0;
  // The slab molecules drawn, per species; those on the x or y wall are drawn
  // apart, over the others, in the wall colour.
  std::vector<std::vector<TViewPoint>> Species;
  std::vector<TViewPoint> Wall;

  std::int64_t Drawn() const;
};

// At most this many slots are read and this many molecules drawn per picture,
// whatever the number of molecules: the cost of a refresh stays bounded.
constexpr std::int64_t MoleculeViewReads = 200000;
constexpr std::int64_t MoleculeViewPoints = 50000;

// The picture of `engine` now: every k-th active slot of each species, k the
// smallest that reads at most MoleculeViewReads slots; of them those in the
// slab, thinned the same way to at most MoleculeViewPoints. Never throws for
// any engine state.
TMoleculePicture TakeMoleculePicture(const TVolume& engine);

// The lines written above the picture: what it shows, or why it is empty.
// Counts are written by `number` (the user's digit grouping).
std::vector<std::string> MoleculePictureLines(
    const TMoleculePicture& picture, const std::function<std::string(std::int64_t)>& number);
