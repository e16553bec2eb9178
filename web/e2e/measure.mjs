// What the page costs, measured in one run beside the native program:
// a step at the defaults in Chromium (WebAssembly, one thread) against
// kelvane-run's reference loop and its fast step on one thread, steps per
// second at Max, the delay from a click on pause to the pause, the time from
// opening the page to its first step, and the size of the site.
//
//   node web/e2e/measure.mjs SITE_DIR KELVANE_RUN [SECONDS]
//
// Prints a Markdown table. Timings only: nothing here is a test.
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import zlib from "node:zlib";
import { action, idle, launchChromium, ready, serveSite } from "./chromium.mjs";

const [siteDir, kelvaneRun, secondsText = "10"] = process.argv.slice(2);
const seconds = Number(secondsText);
const site = path.resolve(siteDir);

const { server, url } = await serveSite(site);

// Native: the time of `steps` steps less that of one, so placing is left out.
function nativeStepMs(kernel, steps) {
  const time = (n) => {
    const start = process.hrtime.bigint();
    execFileSync(kelvaneRun, ["--steps", String(n), "--threads", "1", "--csv", os.devNull], {
      env: kernel ? { ...process.env, KELVANE_KERNEL: kernel } : process.env,
    });
    return Number(process.hrtime.bigint() - start) / 1e6;
  };
  return (time(steps) - time(1)) / (steps - 1);
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

async function browserFigures() {
  const browser = await launchChromium();
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  const opened = Date.now();
  await page.goto(url);
  await ready(page);
  const readyMs = Date.now() - opened;
  await page.selectOption(action("speed"), { index: 3 });
  const started = Date.now();
  await page.click(action("start-pause"));
  await page.waitForFunction(() => window.kelvane.steps() >= 1);
  const firstStep = Date.now() - started;

  // Steps per second at Max, over `seconds`, the charts drawn as they go.
  await page.waitForTimeout(1000);
  const from = await page.evaluate(() => [window.kelvane.steps(), performance.now()]);
  await page.waitForTimeout(seconds * 1000);
  const to = await page.evaluate(() => [window.kelvane.steps(), performance.now()]);
  const perSecond = ((to[0] - from[0]) * 1000) / (to[1] - from[1]);

  // The delay from a click on pause to the button showing the run paused.
  const delays = [];
  for (let i = 0; i < 5; ++i) {
    delays.push(
      await page.evaluate(
        () =>
          new Promise((resolve) => {
            const button = document.querySelector('[data-action="start-pause"]');
            const start = performance.now();
            const observer = new MutationObserver(() => {
              if (button.dataset.running === "false") {
                observer.disconnect();
                resolve(performance.now() - start);
              }
            });
            observer.observe(button, { attributes: true });
            button.click();
          }),
      ),
    );
    await idle(page);
    await page.click(action("start-pause"));
    await page.waitForTimeout(1500);
  }
  await page.click(action("start-pause"));
  await browser.close();
  return { readyMs, firstStep, perSecond, delays };
}

function siteSize() {
  let raw = 0;
  let compressed = 0;
  const walk = (dir) => {
    for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
      const file = path.join(dir, entry.name);
      if (entry.isDirectory()) walk(file);
      else if (/\.(js|wasm|css|html)$/.test(entry.name)) {
        const bytes = fs.readFileSync(file);
        raw += bytes.length;
        compressed += zlib.gzipSync(bytes, { level: 9 }).length;
      }
    }
  };
  walk(site);
  return { raw, compressed };
}

const steps = 300;
const reference = [];
const fast = [];
reference.push(nativeStepMs("reference", steps));
fast.push(nativeStepMs("", steps));
const page = await browserFigures();
reference.push(nativeStepMs("reference", steps));
fast.push(nativeStepMs("", steps));
server.close();
const size = siteSize();

const pageStep = 1000 / page.perSecond;
const row = (what, value) => console.log(`| ${what} | ${value} |`);
console.log("| | |\n|---|---|");
row("a step at the defaults, page at Max (WebAssembly, 1 thread)", `${pageStep.toFixed(1)} ms`);
row(
  "native reference loop, 1 thread (before, after)",
  reference.map((v) => `${v.toFixed(1)} ms`).join(", "),
);
row("native fast step, 1 thread (before, after)", fast.map((v) => `${v.toFixed(1)} ms`).join(", "));
row("page step / native reference loop", `${(pageStep / median(reference)).toFixed(2)}`);
row("steps per second at Max", page.perSecond.toFixed(0));
row(
  "click on pause to paused (median, most of 5)",
  `${median(page.delays).toFixed(0)} ms, ${Math.max(...page.delays).toFixed(0)} ms`,
);
row("opening the page to ready", `${page.readyMs} ms`);
row("start to the first step (placing done at opening)", `${page.firstStep} ms`);
row(
  "site: html, scripts, styles and wasm (gzip -9)",
  `${(size.raw / 1024).toFixed(0)} KiB (${(size.compressed / 1024).toFixed(0)} KiB)`,
);
