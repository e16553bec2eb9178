// The page in a real browser: Debian's Chromium, headless, driven by
// playwright-core. A two-species setup typed into the tables and run at Max
// gives the files kelvane-run writes for it, byte for byte; the run CSV opened
// again runs on to the same bytes; a bad value is refused with the window's
// message and changes nothing.
//
//   node web/e2e/browser.mjs SITE_DIR KELVANE_RUN
//
// SITE_DIR is the built site (build-web/site), KELVANE_RUN the x86-64
// kelvane-run to compare with. Exits 1 on the first difference.
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { action, idle, key, launchChromium, ready, runAtMax, serveSite } from "./chromium.mjs";

const [siteDir, kelvaneRun] = process.argv.slice(2);
if (!siteDir || !kelvaneRun) {
  console.error("usage: node browser.mjs SITE_DIR KELVANE_RUN");
  process.exit(2);
}
const out = fs.mkdtempSync(path.join(os.tmpdir(), "kelvane-browser-"));

let failures = 0;
function check(what, ok, detail = "") {
  console.log(`${ok ? "ok  " : "FAIL"} ${what}${ok ? "" : `: ${detail}`}`);
  if (!ok) failures += 1;
}
function sameBytes(what, a, b) {
  const x = fs.readFileSync(a);
  const y = fs.readFileSync(b);
  check(what, x.equals(y), `${a} (${x.length} bytes) differs from ${b} (${y.length} bytes)`);
}
// The data rows of a run CSV (after its column names).
function rowsOf(csv) {
  const lines = fs.readFileSync(csv, "latin1").split("\r\n").join("\n").split("\n");
  const columns = lines.findIndex((line) => line.startsWith("t [s],"));
  return { header: lines.slice(0, columns + 1), rows: lines.slice(columns + 1).filter((l) => l) };
}

async function type(page, dataKey, text) {
  await page.fill(key(dataKey), text);
}
async function click(page, name) {
  await page.click(action(name));
  await idle(page);
}
async function download(page, name, file) {
  const [saved] = await Promise.all([page.waitForEvent("download"), page.click(action(name))]);
  await saved.saveAs(file);
  return saved.suggestedFilename();
}
async function messageText(page) {
  await page.waitForSelector('[data-role="message"][open]', { timeout: 30000 });
  const text = (await page.textContent('[data-role="message-text"]')).trim();
  await page.click(action("message-ok"));
  return text;
}

const { server, url: site } = await serveSite(siteDir);
const browser = await launchChromium();
try {
  const context = await browser.newContext({ acceptDownloads: true });
  // A fresh page with `file` opened through Open's file picker.
  const openedPage = async (file) => {
    const opened = await context.newPage();
    await opened.goto(site);
    await ready(opened);
    await opened.setInputFiles(action("open-file"), file);
    await idle(opened);
    return opened;
  };
  const page = await context.newPage();
  page.on("pageerror", (error) => check("no script error on the page", false, error.message));
  await page.goto(site);
  await ready(page);
  // Loaded, the page needs no network: everything up to the next page runs offline.
  await context.setOffline(true);

  // A two-species setup typed into the tables: wider inner cube, longer
  // steps, and a second, smaller species whose coefficient Recalculate gives.
  await type(page, "SIM_B1", "2E-6");
  await type(page, "SIM_DT", "0.0002");
  await click(page, "apply");
  await click(page, "add-species");
  await type(page, "SP_C", "3E20");
  await type(page, "SP_A", "1E-9");
  await click(page, "recalc-d");
  check(
    "Recalculate writes the coefficient",
    (await page.inputValue(key("SP_D"))) === "2.15E-10",
    await page.inputValue(key("SP_D")),
  );
  await click(page, "apply-species");
  const steps = await runAtMax(page, 150);

  const pageCsv = path.join(out, "page.csv");
  check("Export run is named run.csv", (await download(page, "export-run", pageCsv)) === "run.csv");
  await download(page, "n1", path.join(out, "page-N1.txt"));
  await download(page, "c1", path.join(out, "page-C1.txt"));
  check(
    `the run CSV holds the ${steps} steps run`,
    rowsOf(pageCsv).rows.length === steps,
    `${rowsOf(pageCsv).rows.length} rows`,
  );

  const native = path.join(out, "native");
  execFileSync(kelvaneRun, [
    "--session",
    pageCsv,
    "--steps",
    String(steps),
    "--csv",
    path.join(native, "run.csv"),
    "--curves",
    native,
  ]);
  sameBytes("the run CSV is kelvane-run's", pageCsv, path.join(native, "run.csv"));
  sameBytes(
    "N1(t).txt is kelvane-run's",
    path.join(out, "page-N1.txt"),
    path.join(native, "N1(t).txt"),
  );
  sameBytes(
    "C1(t).txt is kelvane-run's",
    path.join(out, "page-C1.txt"),
    path.join(native, "C1(t).txt"),
  );

  // A bad value: the window's message, and nothing changes.
  const before = await page.textContent('[data-role="readout"]');
  await type(page, "SIM_T", "warm");
  await page.click(action("apply"));
  check(
    "a bad value gives its message",
    (await messageText(page)) === "'warm' is not a valid floating point value",
  );
  await idle(page);
  check(
    "a bad value changes nothing",
    (await page.evaluate(() => window.kelvane.steps())) === steps &&
      (await page.textContent('[data-role="readout"]')) === before,
  );

  // The run CSV opened in a fresh page replays its setup and runs on to the
  // same bytes.
  await context.setOffline(false);
  const again = await openedPage(pageCsv);
  check(
    "Open shows the file's time step",
    (await again.inputValue(key("SIM_DT"))) === "0.0002",
    await again.inputValue(key("SIM_DT")),
  );
  const more = await runAtMax(again, steps);
  const againCsv = path.join(out, "again.csv");
  await download(again, "export-run", againCsv);
  const first = rowsOf(pageCsv);
  const second = rowsOf(againCsv);
  check(
    "the opened run writes the same header",
    first.header.join("\n") === second.header.join("\n"),
  );
  check(
    `the opened run's first ${steps} of ${more} rows are the same`,
    second.rows.slice(0, steps).join("\n") === first.rows.join("\n"),
  );

  // A file that is no session: its message, and the run stays.
  const badFile = path.join(out, "notes.kelvane");
  fs.writeFileSync(badFile, "format = 1\n[simulation]\nSIM_B0 = 'x'\n");
  await again.setInputFiles(action("open-file"), badFile);
  const refusal = await messageText(again);
  check("a bad file gives its message", refusal.startsWith("notes.kelvane:"), refusal);
  await idle(again);
  check(
    "a bad file changes nothing",
    (await again.evaluate(() => window.kelvane.steps())) === more,
  );

  // The keys a browser leaves to the page: Alt+P starts and pauses (F5
  // reloads), Ctrl+Shift+2 writes N1(t) (Ctrl+2 switches tabs).
  const running = () => again.getAttribute(action("start-pause"), "data-running");
  await again.keyboard.press("Alt+P");
  await again.waitForFunction((n) => window.kelvane.steps() > n, more);
  check("Alt+P starts the run", (await running()) === "true");
  await again.keyboard.press("Alt+P");
  await again.waitForSelector(`${action("start-pause")}[data-running="false"]`);
  await idle(again);
  const [byKey] = await Promise.all([
    again.waitForEvent("download"),
    again.keyboard.press("Control+Shift+2"),
  ]);
  check("Ctrl+Shift+2 writes N1(t).txt", byKey.suggestedFilename() === "N1(t).txt");

  // A kept run shows in the legend beside this run.
  await click(again, "keep-run");
  const legend = await again.textContent('[data-role="legend"]');
  check("a kept run is in the legend", /this run.*kept 1/.test(legend), legend);

  // Save writes a session that opens to the same tables in a fresh page.
  const saved = path.join(out, "saved.kelvane");
  await download(again, "save", saved);
  const third = await openedPage(saved);
  check(
    "a saved session opens to its tables",
    (await third.inputValue(key("SIM_B1"))) === "2E-6" &&
      (await third.locator('[data-role="species-item"]').count()) === 2,
  );

  // The molecule view draws the slab with the window's lines above it.
  await click(third, "molecules");
  const caption = await third.textContent('[data-role="molecule-caption"]');
  check(
    "the molecule view opens on the slab",
    caption.startsWith("Slab |z| <= inner rib"),
    caption,
  );
  await third.click(action("close-molecules"));

  // A chart's menu saves its picture as a PNG.
  await again.click('[data-role="count-chart"]', { button: "right" });
  const picture = path.join(out, "count.png");
  await download(again, "save-image", picture);
  check(
    "a chart's picture is a PNG",
    fs.readFileSync(picture).subarray(0, 8).equals(Buffer.from("\x89PNG\r\n\x1a\n", "latin1")),
  );

  // A run CSV dropped on a fresh page opens as Open does.
  const fourth = await context.newPage();
  await fourth.goto(site);
  await ready(fourth);
  const dropped = await fourth.evaluateHandle(
    (text) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([text], "run.csv", { type: "text/csv" }));
      return transfer;
    },
    fs.readFileSync(pageCsv, "latin1"),
  );
  await fourth.dispatchEvent("body", "drop", { dataTransfer: dropped });
  await fourth.waitForFunction(
    () => document.querySelector('[data-key="SIM_DT"]').value === "0.0002",
  );
  await idle(fourth);
  check("a dropped run CSV opens", (await fourth.inputValue(key("SIM_B1"))) === "2E-6");
} finally {
  await browser.close();
  server.close();
}
if (failures > 0) {
  console.log(`${failures} checks failed; the files are in ${out}`);
  process.exit(1);
}
fs.rmSync(out, { recursive: true, force: true });
console.log("== The page in Chromium writes kelvane-run's bytes");
