// The page's entry: its own engine module for texts and tick labels (pure
// functions, no engine), then the page with the worker's engine behind it.
import { loadCore } from "./loadCore";
import { Page } from "./page";
import "./style.css";

declare global {
  interface Window {
    kelvane: { steps(): number; idle(): boolean };
  }
}

async function main(): Promise<void> {
  const root = document.getElementById("app")!;
  const core = await loadCore();
  const texts = core.uiTexts();
  document.title = texts.title;
  const page = new Page(root, texts, (x) => core.tickLabel(x));
  window.kelvane = { steps: () => page.steps, idle: () => page.idle };
  await page.start();
}

// Without its engine module the page has no texts to show but the reason.
main().catch((error: unknown) => {
  const root = document.getElementById("app")!;
  root.dataset.error = "true";
  root.textContent = String(error);
});
