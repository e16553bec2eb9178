// What the scripts that drive the page share: a static server for the built
// site and Debian's Chromium, headless, through playwright-core.
import fs from "node:fs";
import http from "node:http";
import path from "node:path";
import { chromium } from "playwright-core";

// Any static server does; this one knows the types the site uses.
const types = {
  ".html": "text/html",
  ".js": "text/javascript",
  ".css": "text/css",
  ".wasm": "application/wasm",
  ".svg": "image/svg+xml",
  ".png": "image/png",
};

// Serves the folder `siteDir` on a free port of 127.0.0.1; resolves to the
// server and the site's address.
export function serveSite(siteDir) {
  const dir = path.resolve(siteDir);
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, "http://localhost");
    const file = path.join(
      dir,
      decodeURIComponent(url.pathname === "/" ? "/index.html" : url.pathname),
    );
    if (!file.startsWith(dir) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {
      "Content-Type": types[path.extname(file)] ?? "application/octet-stream",
    });
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) =>
    server.listen(0, "127.0.0.1", () =>
      resolve({ server, url: `http://127.0.0.1:${server.address().port}/` }),
    ),
  );
}

// KELVANE_CHROMIUM names another Chromium than Debian's.
export function launchChromium() {
  return chromium.launch({
    executablePath: process.env.KELVANE_CHROMIUM ?? "/usr/bin/chromium",
    args: [
      "--no-sandbox",
      "--disable-gpu",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--no-first-run",
    ],
  });
}

export const action = (name) => `[data-action="${name}"]`;
export const key = (name) => `[data-key="${name}"]`;

export async function ready(page) {
  await page.waitForSelector('[data-ready="true"]', { timeout: 60000 });
}
export async function idle(page) {
  await page.waitForFunction(() => window.kelvane && window.kelvane.idle(), null, {
    timeout: 120000,
  });
}
// Runs at Max until at least `steps` steps, then pauses; resolves to the
// steps run.
export async function runAtMax(page, steps) {
  await page.selectOption(action("speed"), { index: 3 });
  await page.click(action("start-pause"));
  await page.waitForFunction((n) => window.kelvane.steps() >= n, steps, { timeout: 300000 });
  await page.click(action("start-pause"));
  await page.waitForSelector(`${action("start-pause")}[data-running="false"]`);
  await idle(page);
  return page.evaluate(() => window.kelvane.steps());
}
