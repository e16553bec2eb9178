// How fast a run goes: the window's timer pace, kept by the worker.
import type { Speed } from "./protocol";

export const TickMs = 50;
// Wall time one slice of steps may take before the worker reads its messages
// again, so that a pause or a new speed acts within one slice.
export const SliceMs = 40;

// Steps per tick for each speed; 0 for Max, which steps flat out.
const StepsPerTick: Record<Speed, number> = { 0: 1, 1: 10, 2: 100, 3: 0 };

export class Pacer {
  private pending = 0;
  private perTick: number;

  constructor(speed: Speed) {
    this.perTick = StepsPerTick[speed];
  }

  get flatOut(): boolean {
    return this.perTick === 0;
  }

  setSpeed(speed: Speed): void {
    this.perTick = StepsPerTick[speed];
    this.pending = 0;
  }

  // A tick adds its steps to those still queued, but never beyond two ticks'
  // worth: a machine that cannot keep up runs flat out rather than falling
  // ever further behind.
  tick(): void {
    if (!this.flatOut) this.pending = Math.min(this.pending + this.perTick, 2 * this.perTick);
  }

  // The count for core.step: at most the queued steps, or no limit at Max.
  stepsWanted(): number {
    return this.flatOut ? -1 : this.pending;
  }

  took(steps: number): void {
    if (!this.flatOut) this.pending = Math.max(0, this.pending - steps);
  }

  hasWork(): boolean {
    return this.flatOut || this.pending > 0;
  }

  stop(): void {
    this.pending = 0;
  }
}
