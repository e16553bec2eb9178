// Small helpers for building the page and handing files to the user.
type Attributes = Record<string, string | boolean | undefined>;

export function el<K extends keyof HTMLElementTagNameMap>(
  tag: K,
  attributes: Attributes = {},
  children: (Node | string)[] = [],
): HTMLElementTagNameMap[K] {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === undefined || value === false) continue;
    element.setAttribute(name, value === true ? "" : value);
  }
  element.append(...children);
  return element;
}

export function download(fileName: string, content: string | Blob): void {
  const blob = typeof content === "string" ? new Blob([content], { type: "text/plain" }) : content;
  const url = URL.createObjectURL(blob);
  const link = el("a", { href: url, download: fileName });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10_000);
}

// The modal message box: one message at a time, the next once it is closed.
export class MessageBox {
  private queue: Promise<void> = Promise.resolve();
  private readonly text: HTMLElement;

  constructor(readonly dialog: HTMLDialogElement) {
    this.text = dialog.querySelector('[data-role="message-text"]')!;
    dialog
      .querySelector('[data-action="message-ok"]')!
      .addEventListener("click", () => dialog.close());
  }

  show(message: string): Promise<void> {
    this.queue = this.queue.then(
      () =>
        new Promise<void>((closed) => {
          this.text.textContent = message;
          this.dialog.addEventListener("close", () => closed(), { once: true });
          this.dialog.showModal();
        }),
    );
    return this.queue;
  }

  get open(): boolean {
    return this.dialog.open;
  }
}
