// The run's steps as the charts' columns. uPlot takes one array per series;
// null is a gap (a step without a band or an expected value), undefined a
// point that another run has and this one lacks, drawn across.
import type uPlot from "uplot";
import { SampleWidth } from "./protocol";

export type Column = (number | null | undefined)[];

// Offsets inside one step's samples.
const Time = 0;
export const ConcentrationColumns = [1, 2, 8, 9, 10]; // reference, inside, band lower/upper, expected
export const CountColumns = [3, 4, 5, 6, 7];

// A logarithmic axis has no place for zero or less: such a count is a gap.
function countValue(value: number): number | null {
  return Number.isNaN(value) || value <= 0 ? null : value;
}

function concentrationValue(value: number): number | null {
  return Number.isNaN(value) ? null : value;
}

export class RunColumns {
  readonly time: number[] = [];
  readonly concentration: Column[] = ConcentrationColumns.map(() => []);
  readonly count: Column[] = CountColumns.map(() => []);

  get steps(): number {
    return this.time.length;
  }

  clear(): void {
    this.time.length = 0;
    for (const column of [...this.concentration, ...this.count]) column.length = 0;
  }

  append(samples: Float64Array): void {
    for (let row = 0; row + SampleWidth <= samples.length; row += SampleWidth) {
      this.time.push(samples[row + Time]);
      ConcentrationColumns.forEach((offset, i) =>
        this.concentration[i].push(concentrationValue(samples[row + offset])),
      );
      CountColumns.forEach((offset, i) => this.count[i].push(countValue(samples[row + offset])));
    }
  }
}

// A kept or compared run: one point per step, on its own times.
export interface Overlay {
  times: Float64Array;
  counts: Float64Array;
  concentrations: Float64Array;
}

export function overlayCounts(overlay: Overlay): Column {
  return Array.from(overlay.counts, countValue);
}

export function overlayConcentrations(overlay: Overlay): Column {
  return Array.from(overlay.concentrations, concentrationValue);
}

// The overlays' columns and the run's on one time axis, as uPlot wants them:
// a merge of the sorted times, each series undefined where it has no step.
// The overlays come first, to be drawn beneath the run.
export function alignedData(
  time: ArrayLike<number>,
  columns: Column[],
  overlays: { times: ArrayLike<number>; values: Column }[],
): uPlot.AlignedData {
  if (overlays.length === 0) return [time as number[], ...columns] as uPlot.AlignedData;
  const sources = [time, ...overlays.map((overlay) => overlay.times)];
  const next = sources.map(() => 0);
  const x: number[] = [];
  const runOut: Column[] = columns.map(() => []);
  const overlayOut: Column[] = overlays.map(() => []);
  for (;;) {
    let t = Infinity;
    sources.forEach((source, s) => {
      if (next[s] < source.length) t = Math.min(t, source[next[s]]);
    });
    if (t === Infinity) break;
    x.push(t);
    const runHas = next[0] < time.length && time[next[0]] === t;
    columns.forEach((column, c) => runOut[c].push(runHas ? column[next[0]] : undefined));
    if (runHas) next[0]++;
    overlays.forEach((overlay, o) => {
      const has = next[o + 1] < overlay.times.length && overlay.times[next[o + 1]] === t;
      overlayOut[o].push(has ? overlay.values[next[o + 1]++] : undefined);
    });
  }
  return [x, ...overlayOut, ...runOut] as uPlot.AlignedData;
}
