import { describe, expect, it } from "vitest";
import { SampleWidth } from "../src/protocol";
import { alignedData, overlayCounts, RunColumns } from "../src/samples";

// One step's samples: time, then values 1..10 as the engine lays them out.
function step(time: number, values: Partial<Record<number, number>> = {}): number[] {
  return Array.from({ length: SampleWidth }, (_, i) => (i === 0 ? time : (values[i] ?? i * 10)));
}

describe("RunColumns", () => {
  it("splits each step into the two charts' columns, gaps for missing values", () => {
    const columns = new RunColumns();
    columns.append(Float64Array.from([...step(0, { 4: 0, 5: NaN, 7: NaN }), ...step(0.1)]));
    expect(columns.steps).toBe(2);
    expect(columns.time).toEqual([0, 0.1]);
    // reference, inside, band lower, band upper, expected
    expect(columns.concentration).toEqual([
      [10, 10],
      [20, 20],
      [80, 80],
      [90, 90],
      [100, 100],
    ]);
    // A count of 0 has no place on the logarithmic axis; NaN is no band.
    expect(columns.count).toEqual([
      [30, 30],
      [null, 40],
      [null, 50],
      [60, 60],
      [null, 70],
    ]);
  });

  it("keeps appending across batches and forgets everything on clear", () => {
    const columns = new RunColumns();
    columns.append(Float64Array.from(step(0)));
    columns.append(Float64Array.from([...step(1), ...step(2)]));
    expect(columns.time).toEqual([0, 1, 2]);
    expect(columns.count[1]).toHaveLength(3);
    columns.clear();
    expect(columns.steps).toBe(0);
    expect([...columns.concentration, ...columns.count].every((c) => c.length === 0)).toBe(true);
    columns.append(new Float64Array(0));
    expect(columns.steps).toBe(0);
  });
});

describe("alignedData", () => {
  it("hands the run's columns over as they are when no run is kept", () => {
    const time = [0, 1];
    const column = [5, 6];
    const data = alignedData(time, [column], []);
    expect(data[0]).toBe(time);
    expect(data[1]).toBe(column);
  });

  it("merges kept runs on their own times beneath the run, spanning the steps they lack", () => {
    const data = alignedData(
      [0, 2, 4],
      [
        [1, null, 3],
        [7, 8, 9],
      ],
      [
        { times: Float64Array.from([0, 1, 2]), values: [10, 11, 12] },
        { times: Float64Array.from([5]), values: [50] },
      ],
    );
    expect(data).toEqual([
      [0, 1, 2, 4, 5],
      [10, 11, 12, undefined, undefined],
      [undefined, undefined, undefined, undefined, 50],
      // the run's own gap (null) stays a gap; its missing steps are undefined
      [1, undefined, null, 3, undefined],
      [7, undefined, 8, 9, undefined],
    ]);
  });

  it("keeps a kept run's non-positive counts off the logarithmic axis", () => {
    const overlay = {
      times: Float64Array.from([0, 1, 2]),
      counts: Float64Array.from([0, 3, NaN]),
      concentrations: Float64Array.from([0, 1, 2]),
    };
    expect(overlayCounts(overlay)).toEqual([null, 3, null]);
  });
});
