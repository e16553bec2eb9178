// The page's side of the worker: each request a promise of its reply.
import type { News, Reply, Request, RequestType } from "./protocol";
import { isReply } from "./protocol";

export class EngineClient {
  private readonly worker = new Worker(new URL("./worker.ts", import.meta.url), {
    type: "module",
  });
  private nextId = 1;
  private readonly waiting = new Map<
    number,
    { done: (reply: Reply) => void; fail: (e: Error) => void }
  >();

  constructor(
    private readonly onNews: (news: News) => void,
    private readonly onBusy: (busy: boolean) => void,
  ) {
    this.worker.onmessage = (event: MessageEvent<Reply | News>) => {
      const data = event.data;
      if (!isReply(data)) return this.onNews(data);
      const waiter = this.waiting.get(data.id);
      this.waiting.delete(data.id);
      this.onBusy(this.busy);
      waiter?.done(data);
    };
    // A worker that cannot load (no WebAssembly, a missing file) fails
    // every request waiting, so that none hangs.
    this.worker.onerror = (event) => {
      event.preventDefault();
      const error = new Error(event.message || "The engine could not be loaded");
      for (const waiter of this.waiting.values()) waiter.fail(error);
      this.waiting.clear();
      this.onBusy(false);
    };
  }

  get busy(): boolean {
    return this.waiting.size > 0;
  }

  request<T extends RequestType>(request: Extract<Request, { type: T }>): Promise<Reply<T>> {
    const id = this.nextId++;
    return new Promise((done, fail) => {
      this.waiting.set(id, { done: done as (reply: Reply) => void, fail });
      this.onBusy(true);
      this.worker.postMessage({ id, request });
    });
  }
}
