// The messages between the page and the worker that holds the engine. A
// request carries an id and gets exactly one reply with the same id; the
// worker's own news (samples while running, a failed step) carry none.
import type { KeptRunReply, MoleculePicture, OpenReply } from "kelvane-core";

// Doubles per step in a samples array (the layout is in core.d.ts).
export const SampleWidth = 11;

// The speed select's entries, in the order of uiTexts().speeds.
export type Speed = 0 | 1 | 2 | 3;

export type Request =
  | { type: "init" }
  | { type: "apply"; simulation: string[] }
  | { type: "addSpecies"; texts: string[]; selected: number }
  | { type: "removeSpecies"; selected: number }
  | { type: "applySpecies"; texts: string[]; selected: number }
  | { type: "speciesTexts"; index: number }
  | { type: "recalcDiffusion"; text: string }
  | { type: "recalcRadius"; text: string }
  | { type: "run"; speed: Speed }
  | { type: "pause" }
  | { type: "speed"; speed: Speed }
  | { type: "curveText"; which: "c1" | "n1" }
  | { type: "runCsv" }
  | { type: "sessionText"; simulation: string[]; species: string[]; selected: number }
  | { type: "open"; name: string; text: string }
  | { type: "keepRun" }
  | { type: "compareWith"; name: string; text: string }
  | { type: "removeKept"; index: number }
  | { type: "clearKept" }
  | { type: "moleculePicture" };

export type RequestType = Request["type"];

// What every reply carries besides its own answer: the engine's state as the
// page shows it, so that no change leaves a stale readout or legend behind.
export interface EngineState {
  readout: string;
  keptLabels: string[];
  speciesCount: number;
}

export interface Answers {
  init: { speciesTexts: string[] };
  apply: { error: string };
  addSpecies: { error: string; speciesTexts: string[] };
  removeSpecies: { error: string; speciesTexts: string[] };
  applySpecies: { error: string };
  speciesTexts: { speciesTexts: string[] };
  recalcDiffusion: { text: string; error: string };
  recalcRadius: { text: string; error: string };
  run: {};
  pause: {};
  speed: {};
  curveText: { text: string };
  runCsv: { text: string };
  sessionText: { text: string; error: string };
  open: OpenReply;
  keepRun: KeptRunReply;
  compareWith: KeptRunReply;
  removeKept: {};
  clearKept: {};
  moleculePicture: MoleculePicture;
}

export type Reply<T extends RequestType = RequestType> = {
  id: number;
  type: T;
  state: EngineState;
  answer: Answers[T];
  // An exception inside the worker (a fault, not a user's bad value).
  fault?: string;
};

export type News =
  | { type: "samples"; samples: Float64Array; readout: string }
  | { type: "stepError"; error: string; readout: string };

export type Envelope = { id: number; request: Request };

export function isReply(data: Reply | News): data is Reply {
  return "id" in data;
}
