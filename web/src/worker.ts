// The worker that holds the one engine of the page and runs it, so that a
// fast run never stalls the page's drawing or input.
import type { PageCore } from "kelvane-core";
import { loadCore } from "./loadCore";
import { Pacer, SliceMs, TickMs } from "./pacing";
import {
  SampleWidth,
  type Answers,
  type EngineState,
  type Envelope,
  type News,
  type Reply,
  type Request,
  type Speed,
} from "./protocol";

// The worker's global scope, as far as it is used here.
const scope = self as unknown as {
  postMessage(message: unknown, transfer: Transferable[]): void;
  onmessage: (event: MessageEvent<Envelope>) => void;
};
const corePromise = loadCore().then((core) => new core.PageCore());

let core: PageCore;
const pacer = new Pacer(0);
let running = false;
let ticker: ReturnType<typeof setInterval> | undefined;

// A slice is queued through a message channel: a macrotask, so that the
// page's messages are read between slices, without setTimeout's clamping.
const slices = new MessageChannel();
let sliceQueued = false;
slices.port1.onmessage = () => {
  sliceQueued = false;
  runSlice();
};

function queueSlice(): void {
  if (sliceQueued) return;
  sliceQueued = true;
  slices.port2.postMessage(null);
}

function wallSeconds(): number {
  return performance.now() / 1000;
}

function post(message: Reply | News, transfer: Transferable[] = []): void {
  scope.postMessage(message, transfer);
}

// The engine's arrays may be views into its memory: posting one would copy
// (or detach) all of that memory, so each is copied to a buffer of its own.
function own<T extends Float64Array | Float32Array>(array: T): T {
  return array.slice() as T;
}

function runSlice(): void {
  if (!running || !pacer.hasWork()) return;
  const reply = core.step(pacer.stepsWanted(), SliceMs);
  const samples = own(reply.samples);
  pacer.took(samples.length / SampleWidth);
  if (reply.error) stopRunning();
  const readout = core.readout(wallSeconds());
  if (samples.length > 0) post({ type: "samples", samples, readout }, [samples.buffer]);
  if (reply.error) post({ type: "stepError", error: reply.error, readout });
  else if (running && pacer.hasWork()) queueSlice();
}

function startRunning(speed: Speed): void {
  running = true;
  setSpeed(speed);
}

function setSpeed(speed: Speed): void {
  pacer.setSpeed(speed);
  clearInterval(ticker);
  ticker = undefined;
  if (!running) return;
  if (pacer.flatOut) queueSlice();
  else
    ticker = setInterval(() => {
      pacer.tick();
      queueSlice();
    }, TickMs);
}

function stopRunning(): void {
  running = false;
  pacer.stop();
  clearInterval(ticker);
  ticker = undefined;
}

function keptReply(reply: Answers["keepRun"]): Answers["keepRun"] {
  return {
    error: reply.error,
    times: own(reply.times),
    counts: own(reply.counts),
    concentrations: own(reply.concentrations),
  };
}

function answer(request: Request): Answers[Request["type"]] {
  switch (request.type) {
    case "init":
      return { speciesTexts: core.speciesTexts(core.speciesCount() - 1) };
    case "apply":
      return { error: core.apply(request.simulation) };
    case "addSpecies": {
      const error = core.addSpecies(request.texts, request.selected);
      return { error, speciesTexts: core.speciesTexts(core.speciesCount() - 1) };
    }
    case "removeSpecies": {
      const error = core.removeSpecies(request.selected);
      return { error, speciesTexts: core.speciesTexts(0) };
    }
    case "applySpecies":
      return { error: core.applySpecies(request.texts, request.selected) };
    case "speciesTexts":
      return { speciesTexts: core.speciesTexts(request.index) };
    case "recalcDiffusion":
      return core.recalcDiffusion(request.text);
    case "recalcRadius":
      return core.recalcRadius(request.text);
    case "run":
      startRunning(request.speed);
      return {};
    case "pause":
      stopRunning();
      return {};
    case "speed":
      setSpeed(request.speed);
      return {};
    case "curveText":
      return { text: core.curveText(request.which) };
    case "runCsv":
      return { text: core.runCsv() };
    case "sessionText":
      return core.sessionText(request.simulation, request.species, request.selected);
    case "open": {
      const reply = core.open(request.name, request.text);
      return { ...reply, samples: own(reply.samples) };
    }
    case "keepRun":
      return keptReply(core.keepRun());
    case "compareWith":
      return keptReply(core.compareWith(request.name, request.text));
    case "removeKept":
      core.removeKept(request.index);
      return {};
    case "clearKept":
      core.clearKept();
      return {};
    case "moleculePicture": {
      const picture = core.moleculePicture();
      return {
        drawable: picture.drawable,
        caption: picture.caption,
        species: picture.species.map(own),
        wall: own(picture.wall),
        innerRib: picture.innerRib,
      };
    }
  }
}

function state(): EngineState {
  return {
    readout: core.readout(wallSeconds()),
    keptLabels: core.keptLabels(),
    speciesCount: core.speciesCount(),
  };
}

function transfers(value: unknown): Transferable[] {
  if (ArrayBuffer.isView(value)) return [value.buffer];
  if (Array.isArray(value)) return value.flatMap(transfers);
  if (value && typeof value === "object") return Object.values(value).flatMap(transfers);
  return [];
}

scope.onmessage = async (event: MessageEvent<Envelope>) => {
  const { id, request } = event.data;
  try {
    core ??= await corePromise;
    const result = answer(request);
    post({ id, type: request.type, state: state(), answer: result }, transfers(result));
  } catch (error) {
    const known = core ? state() : { readout: "", keptLabels: [], speciesCount: 1 };
    post({ id, type: request.type, state: known, answer: {} as never, fault: String(error) });
  }
};
