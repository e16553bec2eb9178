// The molecule view: the slab around the inner cube, seen from +z, as the
// engine samples it.
import type { MoleculePicture } from "kelvane-core";

const SpeciesColours = [
  "#1f77b4",
  "#ff7f0e",
  "#2ca02c",
  "#9467bd",
  "#8c564b",
  "#e377c2",
  "#7f7f7f",
  "#bcbd22",
  "#17becf",
  "#d62728",
];
export function speciesColour(index: number): string {
  return SpeciesColours[index % SpeciesColours.length];
}

const WallColour = "#e02020";
const Margin = 4;

function drawPoints(ctx: CanvasRenderingContext2D, points: Float32Array, side: number): void {
  const half = side / 2;
  for (let i = 0; i + 1 < points.length; i += 2)
    ctx.fillRect(
      Margin + half + points[i] * half - 0.75,
      Margin + half - points[i + 1] * half - 0.75,
      1.5,
      1.5,
    );
}

export function drawMolecules(canvas: HTMLCanvasElement, picture: MoleculePicture): void {
  const ratio = window.devicePixelRatio || 1;
  const cssSide = canvas.clientWidth || 480;
  canvas.width = Math.round(cssSide * ratio);
  canvas.height = Math.round(cssSide * ratio);
  const ctx = canvas.getContext("2d")!;
  ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
  ctx.fillStyle = "#fff";
  ctx.fillRect(0, 0, cssSide, cssSide);
  const side = cssSide - 2 * Margin;
  ctx.strokeStyle = "#000";
  ctx.lineWidth = 1;
  ctx.strokeRect(Margin + 0.5, Margin + 0.5, side - 1, side - 1);
  if (!picture.drawable) return;
  picture.species.forEach((points, s) => {
    ctx.fillStyle = speciesColour(s);
    drawPoints(ctx, points, side);
  });
  ctx.fillStyle = WallColour;
  drawPoints(ctx, picture.wall, side);
  const inner = picture.innerRib * side;
  ctx.strokeStyle = "#555";
  ctx.strokeRect(Margin + (side - inner) / 2, Margin + (side - inner) / 2, inner, inner);
}
