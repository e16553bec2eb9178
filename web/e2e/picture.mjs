// The README's picture of the page: the defaults run at Max for some
// seconds in Debian's Chromium, headless, with the molecule view open, then
// paused and drawn at 1280 by 860.
//
//   node web/e2e/picture.mjs SITE_DIR OUT.png [SECONDS, default 8]
import { action, idle, launchChromium, ready, serveSite } from "./chromium.mjs";

const [siteDir, out, secondsText = "8"] = process.argv.slice(2);
if (!siteDir || !out) {
  console.error("usage: node picture.mjs SITE_DIR OUT.png [SECONDS]");
  process.exit(2);
}
const { server, url } = await serveSite(siteDir);
const browser = await launchChromium();
try {
  const page = await browser.newPage({ viewport: { width: 1280, height: 860 } });
  await page.goto(url);
  await ready(page);
  await page.selectOption(action("speed"), { index: 3 });
  await page.click(action("start-pause"));
  await page.waitForTimeout(Number(secondsText) * 1000);
  await page.click(action("start-pause"));
  await page.waitForSelector(`${action("start-pause")}[data-running="false"]`);
  await idle(page);
  await page.click(action("molecules"));
  await idle(page);
  await page.waitForTimeout(500);
  await page.screenshot({ path: out });
} finally {
  await browser.close();
  server.close();
}
