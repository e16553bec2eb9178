#include "Session/MoleculePicture.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "Diffunit/Diffunit.h"

std::int64_t TMoleculePicture::Drawn() const {
  std::int64_t drawn = static_cast<std::int64_t>(Wall.size());
  for (const std::vector<TViewPoint>& points : Species)
    drawn += static_cast<std::int64_t>(points.size());
  return drawn;
}

namespace {

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }

// The active slots of a species, as far as its array really holds them: a
// picture is taken of whatever state the engine is in.
std::int64_t ActiveSlots(const TSpecies& species) {
  const std::int64_t active = std::int64_t{species.InsideCount} + species.OutsideCount;
  return std::clamp<std::int64_t>(active, 0, static_cast<std::int64_t>(species.Molecules.size()));
}

// Keeps every `step`-th point, the first included.
void Thin(std::vector<TViewPoint>& points, std::int64_t step) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < points.size(); i += static_cast<std::size_t>(step))
    points[kept++] = points[i];
  points.resize(kept);
}

}  // namespace

TMoleculePicture TakeMoleculePicture(const TVolume& engine) {
  TMoleculePicture picture;
  const double b0 = engine.OuterRib;
  const double b1 = engine.InnerRib;
  picture.OuterRib = b0;
  picture.InnerRib = b1;
  picture.Species.resize(engine.Species.size());
  for (const TSpecies& species : engine.Species) picture.Active += ActiveSlots(species);
  picture.Drawable = std::isfinite(b0) && std::isfinite(b1) && b0 > 0.0 && b1 > 0.0 && b1 <= b0;
  if (!picture.Drawable || picture.Active == 0) return picture;

  // Every k-th slot: spare slots are activated at the end of the array and
  // re-injections land anywhere in it, so a fixed stride sees all of them
  // in proportion, and the same engine state always gives the same picture.
  const std::int64_t stride = std::max<std::int64_t>(1, CeilDiv(picture.Active, MoleculeViewReads));
  picture.Stride = stride;
  for (std::size_t s = 0; s < engine.Species.size(); ++s) {
    const TSpecies& species = engine.Species[s];
    const std::int64_t active = ActiveSlots(species);
    std::vector<TViewPoint>& points = picture.Species[s];
    for (std::int64_t i = 0; i < active; i += stride) {
      const TMolCoord& p = species.Molecules[static_cast<std::size_t>(i)];
      const double x = std::fabs(p.x);
      const double y = std::fabs(p.y);
      const double z = std::fabs(p.z);
      // New ribs act on the old positions from the next step on: until then
      // a molecule may lie beyond the outer wall, off the picture.
      if (!(z <= b1 && x <= b0 && y <= b0)) continue;
      ++picture.InSlab;
      if (x < b1 && y < b1 && z < b1) ++picture.Inside;
      const TViewPoint point{static_cast<float>(p.x / b0), static_cast<float>(p.y / b0)};
      // Escapes are put back exactly onto the wall, and spare slots enter
      // there: until the next step moves them they crowd the wall, the
      // pile-up the wall rule makes.
      if (x == b0 || y == b0) {
        ++picture.OnWall;
        picture.Wall.push_back(point);
      } else {
        points.push_back(point);
      }
    }
  }
  const std::int64_t drawn = picture.Drawn();
  if (drawn > MoleculeViewPoints) {
    const std::int64_t step = CeilDiv(drawn, MoleculeViewPoints);
    for (std::vector<TViewPoint>& points : picture.Species) Thin(points, step);
    Thin(picture.Wall, step);
  }
  return picture;
}

namespace {

// A count of the molecules read, scaled to all of them: exact when every
// slot was read, "about" otherwise.
std::string Count(const std::function<std::string(std::int64_t)>& number, std::int64_t read,
                  std::int64_t stride) {
  const std::string text = number(read * stride);
  return stride == 1 || read == 0 ? text : "about " + text;
}

}  // namespace

std::vector<std::string> MoleculePictureLines(
    const TMoleculePicture& picture, const std::function<std::string(std::int64_t)>& number) {
  if (picture.Species.empty()) return {"No species: nothing to show"};
  if (!picture.Drawable) return {"Ribs that cannot be drawn: 0 < inner rib <= outer rib is needed"};
  const std::string every =
      picture.Stride == 1 ? "every slot" : "one slot in " + number(picture.Stride);
  return {"Slab |z| <= inner rib, seen from +z: " + Count(number, picture.InSlab, picture.Stride) +
              " molecules",
          "Inside the inner cube: " + Count(number, picture.Inside, picture.Stride),
          "On the x or y outer wall (red): " + Count(number, picture.OnWall, picture.Stride),
          number(picture.Drawn()) + " drawn of " + number(picture.Active) + " molecules (" + every +
              " read)"};
}
