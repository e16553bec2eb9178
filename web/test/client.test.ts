import { afterEach, describe, expect, it, vi } from "vitest";
import { EngineClient } from "../src/client";
import type { News, Reply } from "../src/protocol";

// A worker that keeps what it is sent and answers when the test says.
class FakeWorker {
  static last: FakeWorker;
  sent: { id: number; request: { type: string } }[] = [];
  onmessage: ((event: { data: Reply | News }) => void) | null = null;
  onerror: ((event: { message: string; preventDefault(): void }) => void) | null = null;
  constructor() {
    FakeWorker.last = this;
  }
  postMessage(message: { id: number; request: { type: string } }) {
    this.sent.push(message);
  }
  reply(id: number, answer: object = {}) {
    const state = { readout: "", keptLabels: [], speciesCount: 1 };
    this.onmessage?.({ data: { id, type: "runCsv", state, answer } as Reply });
  }
}

afterEach(() => vi.unstubAllGlobals());

function client() {
  vi.stubGlobal("Worker", FakeWorker);
  const news: News[] = [];
  const busy: boolean[] = [];
  const engine = new EngineClient(
    (n) => news.push(n),
    (b) => busy.push(b),
  );
  return { engine, news, busy, worker: FakeWorker.last };
}

describe("EngineClient", () => {
  it("answers each request with its own reply, in whatever order they come", async () => {
    const { engine, worker, busy } = client();
    const first = engine.request({ type: "runCsv" });
    const second = engine.request({ type: "curveText", which: "c1" });
    const [a, b] = worker.sent.map((m) => m.id);
    expect(a).not.toBe(b);
    worker.reply(b, { text: "second" });
    expect(engine.busy).toBe(true);
    worker.reply(a, { text: "first" });
    expect((await first).answer).toEqual({ text: "first" });
    expect((await second).answer).toEqual({ text: "second" });
    expect(engine.busy).toBe(false);
    expect(busy.at(-1)).toBe(false);
  });

  it("passes the worker's own news on without touching the requests", async () => {
    const { engine, worker, news } = client();
    const pending = engine.request({ type: "pause" });
    const samples: News = { type: "samples", samples: new Float64Array(11), readout: "t" };
    worker.onmessage?.({ data: samples });
    expect(news).toEqual([samples]);
    expect(engine.busy).toBe(true);
    worker.reply(worker.sent[0].id);
    await pending;
  });

  it("fails every waiting request when the worker cannot load", async () => {
    const { engine, worker, busy } = client();
    const pending = engine.request({ type: "init" });
    worker.onerror?.({ message: "no WebAssembly", preventDefault() {} });
    await expect(pending).rejects.toThrow("no WebAssembly");
    expect(engine.busy).toBe(false);
    expect(busy.at(-1)).toBe(false);
  });
});
