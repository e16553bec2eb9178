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

  // Plain loops: a slice at Max brings thousands of steps, and this runs on
  // the page's thread.
  append(samples: Float64Array): void {
    const { time, concentration, count } = this;
    for (let row = 0; row + SampleWidth <= samples.length; row += SampleWidth) {
      time.push(samples[row + Time]);
      for (let i = 0; i < ConcentrationColumns.length; i++)
        concentration[i].push(concentrationValue(samples[row + ConcentrationColumns[i]]));
      for (let i = 0; i < CountColumns.length; i++)
        count[i].push(countValue(samples[row + CountColumns[i]]));
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
  const x: number[] = [];
  const runOut: Column[] = columns.map(() => []);
  const overlayOut: Column[] = overlays.map(() => []);
  const next = overlays.map(() => 0);
  let run = 0;
  for (;;) {
    let t = run < time.length ? time[run] : Infinity;
    for (let o = 0; o < overlays.length; o++) {
      const times = overlays[o].times;
      if (next[o] < times.length && times[next[o]] < t) t = times[next[o]];
    }
    if (t === Infinity) break;
    x.push(t);
    const runHas = run < time.length && time[run] === t;
    for (let c = 0; c < columns.length; c++) runOut[c].push(runHas ? columns[c][run] : undefined);
    if (runHas) run++;
    for (let o = 0; o < overlays.length; o++) {
      const { times, values } = overlays[o];
      const has = next[o] < times.length && times[next[o]] === t;
      overlayOut[o].push(has ? values[next[o]++] : undefined);
    }
  }
  return [x, ...overlayOut, ...runOut] as uPlot.AlignedData;
}
