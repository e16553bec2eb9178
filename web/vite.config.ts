import { existsSync } from "node:fs";
import { resolve } from "node:path";
import type { Alias } from "vite";
import { defineConfig } from "vitest/config";

// The engine's module as scripts/web.sh builds it; KELVANE_CORE=fake puts the
// page's stand-in in its place for working on the page without it.
const coreDir = resolve(__dirname, process.env.KELVANE_CORE_DIR ?? "../build-web/core");
const fake = process.env.KELVANE_CORE === "fake";

function coreAliases(): Alias[] {
  if (fake)
    return [
      { find: /^kelvane-core$/, replacement: resolve(__dirname, "src/fakeCore.ts") },
      {
        find: /^kelvane-core\/kelvane_core\.wasm\?url$/,
        replacement: resolve(__dirname, "src/fakeWasmUrl.ts"),
      },
    ];
  if (!existsSync(resolve(coreDir, "kelvane_core.js")) && !process.env.VITEST)
    throw new Error(
      `No engine module in ${coreDir}: build it with scripts/web.sh, or set KELVANE_CORE=fake`,
    );
  return [
    { find: /^kelvane-core$/, replacement: resolve(coreDir, "kelvane_core.js") },
    { find: /^kelvane-core\//, replacement: `${coreDir}/` },
  ];
}

export default defineConfig({
  base: "./",
  resolve: { alias: coreAliases() },
  worker: { format: "es" },
  build: { outDir: "../build-web/site", emptyOutDir: true, target: "es2022" },
  // The tests load the engine's module from its build folder, outside web/.
  server: { fs: { allow: [__dirname, coreDir] } },
  test: { include: ["test/**/*.test.ts"], environment: "node" },
});
