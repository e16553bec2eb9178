import { describe, expect, it } from "vitest";
import { canonicalKey, fillKeys, keyOf, pageKey, tooltip, type KeyPress } from "../src/keys";

function press(key: string, code: string, modifiers: Partial<KeyPress> = {}): KeyPress {
  return {
    key,
    code,
    ctrlKey: false,
    altKey: false,
    shiftKey: false,
    metaKey: false,
    ...modifiers,
  };
}

describe("the window's keys on the page", () => {
  it("takes the window's key where a browser lets a page have it, another where not", () => {
    expect(pageKey("Ctrl+Return")).toBe("Ctrl+Enter");
    expect(pageKey("Ctrl+E")).toBe("Ctrl+E");
    expect(pageKey("Ctrl+Shift+O")).toBe("Ctrl+Shift+O");
    expect(pageKey("F5")).toBe("Alt+P");
    expect(pageKey("Ctrl+1")).toBe("Ctrl+Shift+1");
    expect(pageKey("Ctrl+2")).toBe("Ctrl+Shift+2");
    expect(pageKey("")).toBe("");
    expect(canonicalKey("Shift+Ctrl+K")).toBe("Ctrl+Shift+K");
  });

  it("names a key press the way the keys above are named", () => {
    // Shift turns the digit into "!" on most layouts: its place names it.
    expect(keyOf(press("!", "Digit1", { ctrlKey: true, shiftKey: true }))).toBe("Ctrl+Shift+1");
    // Alt+P gives "π" on a Mac; the place again.
    expect(keyOf(press("π", "KeyP", { altKey: true }))).toBe("Alt+P");
    // Letters by the layout's letter (AZERTY's A sits on KeyQ).
    expect(keyOf(press("a", "KeyQ", { ctrlKey: true }))).toBe("Ctrl+A");
    expect(keyOf(press("s", "KeyS", { metaKey: true }))).toBe("Ctrl+S");
    expect(keyOf(press("Enter", "Enter", { ctrlKey: true }))).toBe(pageKey("Ctrl+Return"));
    expect(keyOf(press("Enter", "NumpadEnter", { ctrlKey: true }))).toBe("Ctrl+Enter");
    expect(keyOf(press("K", "KeyK", { ctrlKey: true, shiftKey: true }))).toBe(
      pageKey("Ctrl+Shift+K"),
    );
    expect(keyOf(press("F5", "F5"))).toBe("F5");
  });

  it("fills a tip's key places and adds the control's own key only when there is one", () => {
    expect(fillKeys("Compare (%1), or clear (%2)", ["Ctrl+Shift+O", "Ctrl+Shift+K"])).toBe(
      "Compare (Ctrl+Shift+O), or clear (Ctrl+Shift+K)",
    );
    expect(fillKeys("Up 5%, %2 left", ["A"])).toBe("Up 5%, %2 left");
    expect(tooltip("Start or pause the run", "Alt+P")).toBe("Start or pause the run (Alt+P)");
    expect(tooltip("Remove the selected species", "")).toBe("Remove the selected species");
  });
});
