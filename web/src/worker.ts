// The worker that holds the one engine of the page and runs it, so that a
// fast run never stalls the page's drawing or input.
import type { PageCore } from "kelvane-core";
import { loadCore } from "./loadCore";
import { own, Runner } from "./runner";
import {
  type Answers,
  type EngineState,
  type Envelope,
  type News,
  type Reply,
  type Request,
} from "./protocol";

// The worker's global scope, as far as it is used here.
const scope = self as unknown as {
  postMessage(message: unknown, transfer: Transferable[]): void;
  onmessage: (event: MessageEvent<Envelope>) => void;
};
const corePromise = loadCore().then((core) => new core.PageCore());

let core: PageCore;

// A slice is queued through a message channel: a macrotask, so that the
// page's messages are read between slices, without setTimeout's clamping.
const slices = new MessageChannel();
const queued: (() => void)[] = [];
slices.port1.onmessage = () => queued.shift()?.();

const runner = new Runner(
  {
    step: (count, budgetMs) => core.step(count, budgetMs),
    readout: () => core.readout(),
    post,
  },
  {
    queue: (task) => {
      queued.push(task);
      slices.port2.postMessage(null);
    },
    every: (task, ms) => {
      const timer = setInterval(task, ms);
      return () => clearInterval(timer);
    },
  },
);

function post(message: Reply | News, transfer: Transferable[] = []): void {
  scope.postMessage(message, transfer);
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
      // The table shows the new species, or the one selected before if none
      // was added.
      const error = core.addSpecies(request.texts, request.selected);
      const shown = error ? request.selected : core.speciesCount() - 1;
      return { error, speciesTexts: shown >= 0 ? core.speciesTexts(shown) : [] };
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
      runner.run(request.speed);
      return {};
    case "pause":
      runner.pause();
      return {};
    case "speed":
      runner.setSpeed(request.speed);
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
        lines: picture.lines,
        species: (picture.species ?? []).map((points) => own(points)),
        wall: own(picture.wall),
        innerRib: picture.innerRib,
      };
    }
  }
}

function state(): EngineState {
  return {
    readout: core.readout(),
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
