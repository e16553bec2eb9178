// The window's keys as the page takes them. A browser keeps some for itself
// (F5 reloads, Ctrl+1 and Ctrl+2 switch tabs), so those buttons get others.
const BrowserKeeps: Record<string, string> = {
  F5: "Alt+P",
  "Ctrl+1": "Ctrl+Shift+1",
  "Ctrl+2": "Ctrl+Shift+2",
};

const ModifierOrder = ["Ctrl", "Alt", "Shift"];

// One spelling per key: modifiers in a fixed order, "Return" as "Enter".
export function canonicalKey(key: string): string {
  if (!key) return "";
  const parts = key.split("+");
  const main = parts.pop()!;
  const modifiers = ModifierOrder.filter((m) => parts.includes(m));
  return [...modifiers, main === "Return" ? "Enter" : main].join("+");
}

export function pageKey(windowKey: string): string {
  const key = canonicalKey(windowKey);
  return BrowserKeeps[key] ?? key;
}

// "%1" and on in a tip: the keys of the controls it names, in order.
export function fillKeys(tip: string, keys: string[]): string {
  return tip.replace(/%(\d)/g, (placeholder, n: string) => keys[Number(n) - 1] ?? placeholder);
}

export function tooltip(tip: string, key: string): string {
  return key ? `${tip} (${key})` : tip;
}

export interface KeyPress {
  key: string;
  code: string;
  ctrlKey: boolean;
  altKey: boolean;
  shiftKey: boolean;
  metaKey: boolean;
}

// Letters by the layout's own letter, digits by their place (Shift turns
// "1" into "!"), anything else by its name.
function mainKey(press: KeyPress): string {
  if (/^[a-z]$/i.test(press.key)) return press.key.toUpperCase();
  const placed = /^(?:Digit|Key)(.)$/.exec(press.code);
  if (placed) return placed[1];
  return press.key === "NumpadEnter" ? "Enter" : press.key;
}

export function keyOf(press: KeyPress): string {
  const modifiers = [press.ctrlKey || press.metaKey ? "Ctrl" : "", press.altKey ? "Alt" : ""];
  if (press.shiftKey) modifiers.push("Shift");
  return [...modifiers.filter(Boolean), mainKey(press)].join("+");
}
