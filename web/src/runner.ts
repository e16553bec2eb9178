// The run loop of the worker: paced ticks or flat-out slices, each slice's
// samples posted as news, a failed step pausing the run.
import type { StepReply } from "kelvane-core";
import { Pacer, SliceMs, TickMs } from "./pacing";
import { SampleWidth, type News, type Speed } from "./protocol";

export interface RunHooks {
  step(count: number, budgetMs: number): StepReply;
  readout(): string;
  post(news: News, transfer: Transferable[]): void;
}

// How the loop waits: a macrotask for the next slice (the page's messages
// are read before it), and a repeating timer for the ticks.
export interface Clock {
  queue(task: () => void): void;
  every(task: () => void, ms: number): () => void;
}

// The engine's arrays may be views into its memory: posting one would copy
// (or detach) all of that memory, so each is copied to a buffer of its own.
// A reply that carries an error may leave its arrays out.
export function own<T extends Float64Array | Float32Array>(array: T | undefined): T {
  return (array?.slice() ?? new Float64Array()) as T;
}

export class Runner {
  private readonly pacer = new Pacer(0);
  private running = false;
  private sliceQueued = false;
  private stopTicks: (() => void) | undefined;

  constructor(
    private readonly hooks: RunHooks,
    private readonly clock: Clock,
  ) {}

  get isRunning(): boolean {
    return this.running;
  }

  run(speed: Speed): void {
    this.running = true;
    this.setSpeed(speed);
  }

  setSpeed(speed: Speed): void {
    this.pacer.setSpeed(speed);
    this.stopTicks?.();
    this.stopTicks = undefined;
    if (!this.running) return;
    if (this.pacer.flatOut) this.queueSlice();
    else
      this.stopTicks = this.clock.every(() => {
        this.pacer.tick();
        this.queueSlice();
      }, TickMs);
  }

  pause(): void {
    this.running = false;
    this.pacer.stop();
    this.stopTicks?.();
    this.stopTicks = undefined;
  }

  private queueSlice(): void {
    if (this.sliceQueued) return;
    this.sliceQueued = true;
    this.clock.queue(() => {
      this.sliceQueued = false;
      this.slice();
    });
  }

  private slice(): void {
    if (!this.running || !this.pacer.hasWork()) return;
    const reply = this.hooks.step(this.pacer.stepsWanted(), SliceMs);
    const samples = own(reply.samples);
    this.pacer.took(samples.length / SampleWidth);
    if (reply.error) this.pause();
    const readout = this.hooks.readout();
    if (samples.length > 0)
      this.hooks.post({ type: "samples", samples, readout }, [samples.buffer]);
    if (reply.error) this.hooks.post({ type: "stepError", error: reply.error, readout }, []);
    else if (this.running && this.pacer.hasWork()) this.queueSlice();
  }
}
