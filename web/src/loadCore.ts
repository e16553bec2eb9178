// One place that knows where the engine's module and its WebAssembly file
// are, for the worker and the page's own thread alike.
import createKelvaneCore, { type KelvaneCore } from "kelvane-core";
import wasmUrl from "kelvane-core/kelvane_core.wasm?url";

export function loadCore(): Promise<KelvaneCore> {
  return createKelvaneCore({ locateFile: () => wasmUrl });
}
