/// <reference types="node" />
// The engine as the page runs it (WebAssembly, in node): the known answers
// every other target checks, and the window's rules for refused values,
// opened files and kept runs. Skipped when the engine is not built
// (scripts/web.sh builds it).
import { existsSync, readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { resolve } from "node:path";
import { env } from "node:process";
import { beforeAll, describe, expect, it } from "vitest";
import type { KelvaneCore, PageCore } from "kelvane-core";
import { SampleWidth } from "../src/protocol";

// KELVANE_CORE_DIR as scripts/web.sh sets it, else the folder it builds into.
const coreDir = env.KELVANE_CORE_DIR
  ? new URL(`file://${resolve(env.KELVANE_CORE_DIR)}/`)
  : new URL("../../build-web/core/", import.meta.url);
const coreFile = (name: string) => new URL(name, coreDir);
const built = existsSync(coreFile("kelvane_core.js"));

// A C hex float ("0x1.d7dbf487fcb94p-11"), as tests/known_answers.txt writes them.
function hexFloat(text: string): number {
  const match = /^(-?)0x1\.([0-9a-f]+)p([+-]\d+)$/.exec(text);
  if (!match) throw new Error(`not a hex float: ${text}`);
  const fraction = parseInt(match[2], 16) / 16 ** match[2].length;
  return (match[1] ? -1 : 1) * (1 + fraction) * 2 ** Number(match[3]);
}

// The simulation table's defaults in display order, with one text changed.
const defaults = ["1E-5", "1E-6", "0.001", "293.15", "0.0001"];
const withText = (index: number, text: string) => defaults.map((t, i) => (i === index ? text : t));
// One step's sample: the field `k` of step `n` (1 on).
const field = (samples: Float64Array, n: number, k: number) => samples[(n - 1) * SampleWidth + k];

describe.skipIf(!built)("the engine in the page", () => {
  let core: KelvaneCore;
  const fresh = (): PageCore => new core.PageCore();

  beforeAll(async () => {
    // The module's loader for node asks for these, as a CommonJS script would have them.
    Object.assign(globalThis, {
      require: createRequire(import.meta.url),
      __dirname: coreDir.pathname,
    });
    const { default: create } = await import(/* @vite-ignore */ coreFile("kelvane_core.js").href);
    core = await create({ wasmBinary: readFileSync(coreFile("kelvane_core.wasm")) });
  });

  it("steps the defaults to the known answers of every target", () => {
    const page = fresh();
    const { samples, error } = page.step(9, 1e9);
    expect(error).toBe("");
    expect(samples.length).toBe(9 * SampleWidth);
    // run defaults: report 2 1 719 ..., report 9 10 719 0x1.158e460913d01p+63 ...
    expect(field(samples, 2, 4)).toBe(1);
    expect(field(samples, 9, 4)).toBe(10);
    expect(field(samples, 9, 3)).toBe(719);
    expect(field(samples, 9, 2)).toBe(hexFloat("0x1.158e460913d01p+63"));
    expect(field(samples, 9, 1)).toBe(hexFloat("0x1.38400eca364ap+69"));
    expect(field(samples, 9, 0)).toBe(hexFloat("0x1.d7dbf487fcb94p-11"));
    page.delete();
  });

  it("refuses a bad value with the window's message and changes nothing", () => {
    const page = fresh();
    page.step(2, 1e9);
    const readout = page.readout();
    const csv = page.runCsv();
    expect(page.apply(withText(3, "warm"))).toBe("'warm' is not a valid floating point value");
    expect(page.readout()).toBe(readout);
    expect(page.runCsv()).toBe(csv);
    // The run goes on as if nothing was asked.
    expect(field(page.step(7, 1e9).samples, 7, 4)).toBe(10);
    page.delete();
  });

  it("applies new values from time 0 and recalculates the species' values", () => {
    const page = fresh();
    page.step(3, 1e9);
    expect(page.apply(withText(4, "0.0002"))).toBe("");
    expect(field(page.step(1, 1e9).samples, 1, 0)).toBe(0.0002);
    expect(page.recalcDiffusion("1.5E-9")).toEqual({ text: "1.43E-10", error: "" });
    expect(page.recalcDiffusion("wide").error).not.toBe("");
    expect(core.tickLabel(720)).toBe("7.2E2");
    expect(core.tickLabel(1e-4)).toBe("1E-4");
    page.delete();
  });

  it("opens its own run CSV to a run that goes on to the same rows, and refuses a bad file whole", () => {
    const first = fresh();
    expect(first.apply(withText(1, "2E-6"))).toBe("");
    expect(first.addSpecies(["7.2E20", "1.5E-9", "1.43E-10"], 0)).toBe("");
    first.step(5, 1e9);
    const csv = first.runCsv();

    const second = fresh();
    const opened = second.open("run.csv", csv);
    expect(opened.error).toBe("");
    expect(opened.simulation).toEqual(withText(1, "2E-6"));
    expect(opened.speciesCount).toBe(2);
    // The setup is replayed, not its last steps: run on, they are the same rows.
    expect(opened.samples.length).toBe(0);
    second.step(5, 1e9);
    expect(second.runCsv()).toBe(csv);

    const refused = second.open("notes.kelvane", "format = 1\n[simulation]\nSIM_B0 = 'x'\n");
    expect(refused.error.startsWith("notes.kelvane:")).toBe(true);
    expect(second.speciesCount()).toBe(2);
    expect(second.runCsv()).toBe(csv);
    first.delete();
    second.delete();
  });

  it("keeps runs under numbered labels, draws the slab and writes the curves", () => {
    const page = fresh();
    page.step(4, 1e9);
    const kept = page.keepRun();
    expect(kept.error).toBe("");
    expect(kept.times.length).toBe(4);
    expect(page.keptLabels()).toHaveLength(1);
    expect(page.keptLabels()[0].startsWith("kept 1")).toBe(true);
    page.clearKept();
    expect(page.keptLabels()).toEqual([]);

    const picture = page.moleculePicture();
    expect(picture.drawable).toBe(true);
    expect(picture.innerRib).toBeCloseTo(0.1, 12);
    expect(picture.species[0].length % 2).toBe(0);
    expect(picture.lines[0].startsWith("Slab |z| <= inner rib")).toBe(true);

    expect(page.curveText("n1").trimEnd().split("\n")).toHaveLength(4);
    page.delete();
  });
});
