import type { StepReply } from "kelvane-core";
import { describe, expect, it } from "vitest";
import { Pacer } from "../src/pacing";
import { SampleWidth, type News } from "../src/protocol";
import { Runner, type Clock } from "../src/runner";

describe("Pacer", () => {
  it("queues each speed's steps per tick, never more than two ticks' worth", () => {
    const pacer = new Pacer(1); // ×10
    pacer.tick();
    expect(pacer.stepsWanted()).toBe(10);
    pacer.took(4);
    pacer.tick();
    expect(pacer.stepsWanted()).toBe(16);
    pacer.tick();
    pacer.tick();
    expect(pacer.stepsWanted()).toBe(20);
    pacer.took(20);
    expect(pacer.hasWork()).toBe(false);
    pacer.setSpeed(2); // ×100
    pacer.tick();
    pacer.tick();
    pacer.tick();
    expect(pacer.stepsWanted()).toBe(200);
    pacer.setSpeed(0); // ×1: a new speed starts with nothing queued
    expect(pacer.hasWork()).toBe(false);
    pacer.tick();
    pacer.tick();
    expect(pacer.stepsWanted()).toBe(2);
  });

  it("runs Max without a limit, whatever was taken, until stopped", () => {
    const pacer = new Pacer(3);
    expect(pacer.flatOut).toBe(true);
    pacer.took(1000);
    expect(pacer.stepsWanted()).toBe(-1);
    expect(pacer.hasWork()).toBe(true);
  });
});

// A clock the test turns by hand: queued slices and ticks run on request.
class ManualClock implements Clock {
  tasks: (() => void)[] = [];
  tickers = new Set<() => void>();
  queue(task: () => void) {
    this.tasks.push(task);
  }
  every(task: () => void) {
    this.tickers.add(task);
    return () => this.tickers.delete(task);
  }
  tick() {
    for (const ticker of [...this.tickers]) ticker();
  }
  runQueued() {
    const tasks = this.tasks;
    this.tasks = [];
    tasks.forEach((task) => task());
  }
}

function engine(failAtStep = Infinity) {
  const asked: number[] = [];
  const posted: News[] = [];
  let steps = 0;
  const step = (count: number): StepReply => {
    asked.push(count);
    const taken = count < 0 ? 3 : count;
    const rows: number[] = [];
    for (let i = 0; i < taken; i++) {
      if (steps === failAtStep) return { samples: Float64Array.from(rows), error: "failed" };
      rows.push(...new Array(SampleWidth).fill(steps++));
    }
    return { samples: Float64Array.from(rows), error: "" };
  };
  return { asked, posted, step, readout: () => `step ${steps}`, post: (n: News) => posted.push(n) };
}

describe("Runner", () => {
  it("takes a tick's steps in one slice and posts them with the readout", () => {
    const clock = new ManualClock();
    const core = engine();
    const runner = new Runner(core, clock);
    runner.run(1);
    expect(clock.tasks).toHaveLength(0); // paced speeds wait for the first tick
    clock.tick();
    clock.tick(); // a second tick before the slice ran queues no second slice
    expect(clock.tasks).toHaveLength(1);
    clock.runQueued();
    expect(core.asked).toEqual([20]);
    expect(core.posted).toEqual([
      { type: "samples", samples: expect.any(Float64Array), readout: "step 20" },
    ]);
    expect((core.posted[0] as { samples: Float64Array }).samples.length).toBe(20 * SampleWidth);
  });

  it("slices flat out at Max until paused, and a pause between slices stops it", () => {
    const clock = new ManualClock();
    const core = engine();
    const runner = new Runner(core, clock);
    runner.run(3);
    clock.runQueued();
    clock.runQueued();
    expect(core.asked).toEqual([-1, -1]);
    runner.pause(); // the page's message, read between two slices
    clock.runQueued();
    expect(core.asked).toHaveLength(2);
    expect(clock.tasks).toHaveLength(0);
    expect(clock.tickers.size).toBe(0);
  });

  it("a failed step pauses the run and posts the steps before it, then the message", () => {
    const clock = new ManualClock();
    const core = engine(5);
    const runner = new Runner(core, clock);
    runner.run(3);
    clock.runQueued();
    clock.runQueued();
    expect(runner.isRunning).toBe(false);
    expect(core.posted.map((news) => news.type)).toEqual(["samples", "samples", "stepError"]);
    expect(core.posted[2]).toMatchObject({ error: "failed", readout: "step 5" });
    clock.runQueued();
    expect(core.asked).toHaveLength(2);
  });

  it("switching from Max to a paced speed waits for ticks again", () => {
    const clock = new ManualClock();
    const core = engine();
    const runner = new Runner(core, clock);
    runner.run(3);
    runner.setSpeed(0);
    clock.runQueued();
    expect(core.asked).toEqual([]);
    clock.tick();
    clock.runQueued();
    expect(core.asked).toEqual([1]);
  });
});
