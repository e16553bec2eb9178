// The page: the window's controls on the left, the two charts on the right,
// the engine in a worker. Every text shown comes from the core's uiTexts().
import type { ControlText, MoleculePicture, TableRowText, UiTexts } from "kelvane-core";
import { RunChart, Colours, keptColour } from "./charts";
import { EngineClient } from "./client";
import { download, el, MessageBox } from "./dom";
import { fillKeys, keyOf, pageKey, tooltip } from "./keys";
import { drawMolecules, speciesColour } from "./molecules";
import type { EngineState, News, Reply, Request, RequestType, Speed } from "./protocol";
import {
  alignedData,
  overlayConcentrations,
  overlayCounts,
  RunColumns,
  type Column,
  type Overlay,
} from "./samples";

// Charts redraw at most this often while samples come in.
const DrawMs = 50;
const MoleculeRefreshMs = 250;

// Buttons the window disables while a run goes on.
const IdleOnlyActions = [
  "apply",
  "add-species",
  "remove-species",
  "apply-species",
  "recalc-d",
  "recalc-radius",
];

// Tips that name other controls' keys (%1, %2 ...), as the Runs button's
// names those of its menu.
const KeysInTip: Record<string, string[]> = { runs: ["compare", "clear-kept"] };

interface KeptRun {
  times: Float64Array;
  counts: Column;
  concentrations: Column;
}

const PlayIcon =
  '<svg viewBox="0 0 16 16" width="14" height="14" aria-hidden="true">' +
  '<path class="play" d="M4 2 L13 8 L4 14 Z"/>' +
  '<path class="pause" d="M3.5 2.5h3v11h-3zM9.5 2.5h3v11h-3z"/></svg>';

export class Page {
  private readonly client: EngineClient;
  private readonly messages: MessageBox;
  private readonly columns = new RunColumns();
  private kept: KeptRun[] = [];
  private keptLabels: string[] = [];
  private running = false;
  private speciesCount = 1;
  private selected = 0;
  private drawQueued = false;
  private lastDraw = -Infinity;
  private drawCost = 0;
  private reading = 0;
  private moleculeFetch: Promise<void> | null = null;
  private moleculesChanged = false;
  private lastMoleculeFetch = -Infinity;
  private concentrationChart!: RunChart;
  private countChart!: RunChart;
  private menuChart: RunChart | null = null;
  private readonly keys = new Map<string, string>();
  private readonly actions: Record<string, () => unknown>;

  constructor(
    private readonly root: HTMLElement,
    private readonly texts: UiTexts,
    private readonly tickLabel: (x: number) => string,
  ) {
    this.client = new EngineClient(
      (news) => this.onNews(news),
      () => this.showBusy(),
    );
    this.actions = {
      apply: () => this.apply(),
      "start-pause": () => this.startOrPause(),
      c1: () => this.saveCurve("c1"),
      n1: () => this.saveCurve("n1"),
      "export-run": () => this.exportRun(),
      open: () => this.input("open-file").click(),
      save: () => this.saveSession(),
      "keep-run": () => this.keepRun(),
      runs: () => this.toggleMenu(this.part("runs-menu"), this.control("runs")),
      compare: () => this.input("compare-file").click(),
      "clear-kept": () => this.clearKept(),
      "add-species": () => this.addSpecies(),
      "remove-species": () => this.removeSpecies(),
      "apply-species": () => this.applySpecies(),
      "recalc-d": () => this.recalc("recalcDiffusion", "SP_A", "SP_D"),
      "recalc-radius": () => this.recalc("recalcRadius", "SP_D", "SP_A"),
      molecules: () => this.openMolecules(),
      "save-image": () => this.saveImage(),
      "toggle-band": () => this.toggleCurves("toggle-band"),
      "toggle-expected": () => this.toggleCurves("toggle-expected"),
    };
    this.build();
    this.messages = new MessageBox(this.part("message") as HTMLDialogElement);
    this.listen();
  }

  async start(): Promise<void> {
    const reply = await this.request({ type: "init" });
    if (!reply) return;
    this.setTexts("species", reply.answer.speciesTexts);
    this.selected = reply.state.speciesCount - 1;
    this.renderSpecies();
    this.root.dataset.ready = "true";
  }

  // For tests and scripts: the run's steps, and whether the page has
  // settled (no request out, not running, nothing left to draw).
  get steps(): number {
    return this.columns.steps;
  }

  get idle(): boolean {
    return !this.busy && !this.running && !this.drawQueued;
  }

  // Busy while the engine works on a request, or while a file is read for it.
  private get busy(): boolean {
    return this.client.busy || this.reading > 0;
  }

  private showBusy(): void {
    this.root.dataset.busy = String(this.busy);
  }

  // ---- building -------------------------------------------------------

  private build(): void {
    const t = this.texts;
    const pageKeyOf = (action: string) => pageKey(t.controls[action]?.key ?? "");
    const button = (action: string, extra: Record<string, string> = {}) => {
      const text: ControlText = t.controls[action];
      const key = pageKey(text.key);
      if (key) this.keys.set(key, action);
      const tip = fillKeys(text.tip, (KeysInTip[action] ?? []).map(pageKeyOf));
      return el(
        "button",
        { type: "button", "data-action": action, title: tooltip(tip, key), ...extra },
        [text.caption],
      );
    };
    const table = (title: { title: string; value: string }, rows: TableRowText[], role: string) =>
      el("table", { class: "values", "data-role": role }, [
        el("thead", {}, [el("tr", {}, [el("th", {}, [title.title]), el("th", {}, [title.value])])]),
        el(
          "tbody",
          {},
          rows.map((row) =>
            el("tr", {}, [
              el("td", { title: row.caption }, [row.caption]),
              el("td", {}, [
                el("input", {
                  type: "text",
                  "data-key": row.key,
                  value: row.initial,
                  spellcheck: "false",
                  "aria-label": row.caption,
                }),
              ]),
            ]),
          ),
        ),
      ]);

    const startPause = button("start-pause", { "data-running": "false", class: "icon" });
    startPause.setAttribute("aria-label", t.controls["start-pause"].tip);
    startPause.innerHTML = PlayIcon;

    const speed = el(
      "select",
      { "data-action": "speed", title: t.speedTip },
      t.speeds.map((text, i) => el("option", { value: String(i) }, [text])),
    );
    const runs = button("runs", { "aria-haspopup": "menu" });
    runs.append(el("span", { class: "caret", "aria-hidden": "true" }, ["▾"]));

    const compare = button("compare", { role: "menuitem" });
    const clearKept = button("clear-kept", { role: "menuitem" });

    const controls = el("aside", { class: "controls" }, [
      el("div", { class: "row" }, [button("apply"), startPause, button("c1"), button("n1")]),
      table(t.simulationTable, t.simulationRows, "simulation-table"),
      el("fieldset", { class: "species" }, [
        el("legend", {}, [t.speciesGroup]),
        el("ul", { "data-role": "species-list", role: "listbox", tabindex: "0" }),
      ]),
      el("div", { class: "row" }, [
        button("add-species"),
        button("remove-species"),
        button("apply-species"),
      ]),
      table(t.speciesTable, t.speciesRows, "species-table"),
      button("recalc-d", { class: "wide" }),
      button("recalc-radius", { class: "wide" }),
      el("div", { class: "row" }, [speed, button("export-run"), button("molecules")]),
      el("div", { class: "row" }, [button("open"), button("save"), button("keep-run"), runs]),
      el("div", { class: "menu", role: "menu", "data-role": "runs-menu", hidden: true }, [
        compare,
        el("hr"),
        el("div", { "data-role": "kept-items" }),
        clearKept,
      ]),
      el("input", { type: "file", "data-action": "open-file", hidden: true }),
      el("input", { type: "file", "data-action": "compare-file", hidden: true }),
    ]);

    const c = t.charts;
    const menuItem = (action: string, text: string, checkable: boolean) =>
      el(
        "button",
        {
          type: "button",
          "data-action": action,
          role: checkable ? "menuitemcheckbox" : "menuitem",
          "aria-checked": checkable ? "true" : undefined,
        },
        [text],
      );
    const charts = el("main", { class: "charts" }, [
      el("div", { class: "legend", "data-role": "legend", hidden: true }),
      el("div", { class: "chart", "data-role": "concentration-chart" }),
      el("div", { class: "chart", "data-role": "count-chart" }),
      el("div", { class: "menu", role: "menu", "data-role": "chart-menu", hidden: true }, [
        menuItem("save-image", c.saveImage, false),
        el("hr"),
        menuItem("toggle-band", c.band, true),
        menuItem("toggle-expected", c.expected, true),
      ]),
    ]);

    const message = el("dialog", { "data-role": "message" }, [
      el("p", { "data-role": "message-text" }),
      el("form", { method: "dialog" }, [
        el("button", { type: "button", "data-action": "message-ok", autofocus: true }, ["OK"]),
      ]),
    ]);
    const molecules = el("dialog", { "data-role": "molecules", class: "molecules" }, [
      el("header", {}, [
        el("span", {}, [t.moleculeView.title]),
        el("button", { type: "button", "data-action": "close-molecules", "aria-label": "×" }, [
          "×",
        ]),
      ]),
      el("div", { class: "caption", "data-role": "molecule-caption" }),
      el("div", { class: "caption", "data-role": "molecule-legend" }),
      el("canvas", { "data-role": "molecule-canvas" }),
    ]);

    this.root.append(controls, charts, message, molecules);
    this.concentrationChart = new RunChart(this.part("concentration-chart"), {
      texts: { ...c.concentration, time: c.time },
      logarithmic: false,
      tickLabel: this.tickLabel,
    });
    this.countChart = new RunChart(this.part("count-chart"), {
      texts: { ...c.count, time: c.time },
      logarithmic: true,
      tickLabel: this.tickLabel,
    });
    // The readout floats over the lower right of the count chart's plot.
    this.countChart.plot.over.append(
      el("div", { class: "readout", "data-role": "readout", title: t.readoutTip }),
    );
    this.renderSpecies();
    this.refreshEnabled();
  }

  private listen(): void {
    this.root.addEventListener("click", (event) => {
      const target = (event.target as HTMLElement).closest<HTMLElement>("[data-action]");
      const action = target?.dataset.action;
      if (!target || !action || (target as HTMLButtonElement).disabled) return;
      if (target.closest(".menu")) this.closeMenus();
      if (action === "remove-kept") return this.removeKept(Number(target.dataset.index));
      if (action === "close-molecules") return this.part<HTMLDialogElement>("molecules").close();
      this.actions[action]?.();
    });
    document.addEventListener("mousedown", (event) => {
      if (!(event.target as HTMLElement).closest(".menu, [data-action='runs']")) this.closeMenus();
    });
    document.addEventListener("keydown", (event) => this.onKey(event));
    this.control("speed").addEventListener("change", () => {
      if (this.running) void this.request({ type: "speed", speed: this.speed() });
    });
    this.input("open-file").addEventListener("change", () => this.takeFile("open-file"));
    this.input("compare-file").addEventListener("change", () => this.takeFile("compare-file"));
    this.part("species-list").addEventListener("click", (event) => {
      const item = (event.target as HTMLElement).closest<HTMLElement>("[data-role=species-item]");
      // The check boxes are always checked: a click only selects.
      if ((event.target as HTMLElement).matches("input")) event.preventDefault();
      if (item) void this.selectSpecies(Number(item.dataset.index));
    });
    this.part("species-list").addEventListener("keydown", (event) => {
      const step = { ArrowDown: 1, ArrowUp: -1 }[event.key];
      if (!step) return;
      event.preventDefault();
      const next = Math.min(this.speciesCount - 1, Math.max(0, this.selected + step));
      if (next !== this.selected) void this.selectSpecies(next);
    });
    for (const chart of [this.concentrationChart, this.countChart])
      chart.host.addEventListener("contextmenu", (event) => {
        event.preventDefault();
        this.menuChart = chart;
        this.closeMenus();
        this.showMenu(this.part("chart-menu"), event.clientX, event.clientY);
      });
    document.addEventListener("dragover", (event) => event.preventDefault());
    document.addEventListener("drop", (event) => {
      event.preventDefault();
      const file = event.dataTransfer?.files[0];
      if (file) void this.openFile(file);
    });
  }

  // ---- the engine -----------------------------------------------------

  // A request whose reply updates what every reply carries; undefined when
  // the worker failed, which is shown like a bad value.
  private async request<T extends RequestType>(
    request: Extract<Request, { type: T }>,
  ): Promise<Reply<T> | undefined> {
    let reply: Reply<T>;
    try {
      reply = await this.client.request(request);
    } catch (error) {
      void this.messages.show(String((error as Error).message ?? error));
      return undefined;
    }
    this.applyState(reply.state);
    if (request.type !== "moleculePicture") this.refreshMolecules(true);
    if (reply.fault) {
      void this.messages.show(reply.fault);
      return undefined;
    }
    return reply;
  }

  // A reply whose answer carries an error: shown, and nothing else changes.
  private async checked<T extends RequestType>(
    request: Extract<Request, { type: T }>,
  ): Promise<Reply<T> | undefined> {
    const reply = await this.request(request);
    const error = (reply?.answer as { error?: string } | undefined)?.error;
    if (error) {
      void this.messages.show(error);
      return undefined;
    }
    return reply;
  }

  private applyState(state: EngineState): void {
    this.part("readout").textContent = state.readout;
    if (state.speciesCount !== this.speciesCount) {
      this.speciesCount = state.speciesCount;
      this.selected = Math.min(this.selected, this.speciesCount - 1);
      this.renderSpecies();
    }
    this.keptLabels = state.keptLabels;
    this.renderKeptLabels();
  }

  private onNews(news: News): void {
    this.part("readout").textContent = news.readout;
    if (news.type === "samples") {
      this.columns.append(news.samples);
      this.scheduleDraw();
      this.refreshMolecules();
    } else {
      this.setRunning(false);
      void this.messages.show(news.error);
    }
  }

  // ---- the run --------------------------------------------------------

  private speed(): Speed {
    return Number(this.control<HTMLSelectElement>("speed").value) as Speed;
  }

  private async startOrPause(): Promise<void> {
    if (this.running) {
      this.setRunning(false);
      await this.request({ type: "pause" });
    } else {
      this.setRunning(true);
      if (!(await this.request({ type: "run", speed: this.speed() }))) this.setRunning(false);
    }
  }

  private setRunning(running: boolean): void {
    this.running = running;
    this.control("start-pause").dataset.running = String(running);
    this.refreshEnabled();
    if (!running) this.scheduleDraw();
  }

  private refreshEnabled(): void {
    for (const action of IdleOnlyActions)
      this.control<HTMLButtonElement>(action).disabled = this.running;
    this.control<HTMLButtonElement>("clear-kept").disabled = this.kept.length === 0;
  }

  private async apply(): Promise<void> {
    const reply = await this.checked({ type: "apply", simulation: this.tableTexts("simulation") });
    if (!reply) return;
    this.clearRun();
  }

  private clearRun(): void {
    this.columns.clear();
    this.concentrationChart.unzoom();
    this.countChart.unzoom();
    this.scheduleDraw();
  }

  // ---- species --------------------------------------------------------

  private renderSpecies(): void {
    const list = this.part("species-list");
    list.replaceChildren(
      ...Array.from({ length: this.speciesCount }, (_, i) =>
        el(
          "li",
          {
            "data-role": "species-item",
            "data-index": String(i),
            role: "option",
            "aria-selected": String(i === this.selected),
          },
          [
            el("input", { type: "checkbox", checked: true, tabindex: "-1" }),
            this.texts.speciesItem,
          ],
        ),
      ),
    );
  }

  private async selectSpecies(index: number): Promise<void> {
    const reply = await this.request({ type: "speciesTexts", index });
    if (!reply) return;
    this.selected = index;
    this.setTexts("species", reply.answer.speciesTexts);
    this.renderSpecies();
  }

  private async addSpecies(): Promise<void> {
    const texts = this.tableTexts("species");
    const reply = await this.request({ type: "addSpecies", texts, selected: this.selected });
    if (!reply) return;
    const { error, speciesTexts } = reply.answer;
    if (!error) this.selected = reply.state.speciesCount - 1;
    this.setTexts("species", speciesTexts);
    this.renderSpecies();
    if (error) void this.messages.show(error);
  }

  private async removeSpecies(): Promise<void> {
    const reply = await this.checked({ type: "removeSpecies", selected: this.selected });
    if (!reply) return;
    this.selected = 0;
    this.setTexts("species", reply.answer.speciesTexts);
    this.renderSpecies();
  }

  private async applySpecies(): Promise<void> {
    const texts = this.tableTexts("species");
    await this.checked({ type: "applySpecies", texts, selected: this.selected });
  }

  private async recalc(
    type: "recalcDiffusion" | "recalcRadius",
    from: string,
    to: string,
  ): Promise<void> {
    const reply = await this.checked({ type, text: this.keyInput(from).value });
    if (reply) this.keyInput(to).value = reply.answer.text;
  }

  // ---- files ----------------------------------------------------------

  private async saveCurve(which: "c1" | "n1"): Promise<void> {
    const reply = await this.request({ type: "curveText", which });
    if (reply) download(this.texts.files[which], reply.answer.text);
  }

  private async exportRun(): Promise<void> {
    const reply = await this.request({ type: "runCsv" });
    if (reply) download(this.texts.files.run, reply.answer.text);
  }

  private async saveSession(): Promise<void> {
    const reply = await this.checked({
      type: "sessionText",
      simulation: this.tableTexts("simulation"),
      species: this.tableTexts("species"),
      selected: this.selected,
    });
    if (reply) download(this.texts.files.session, reply.answer.text);
  }

  private takeFile(action: "open-file" | "compare-file"): void {
    const input = this.input(action);
    const file = input.files?.[0];
    input.value = ""; // the same file can be chosen again
    if (!file) return;
    void (action === "open-file" ? this.openFile(file) : this.compareWith(file));
  }

  private async readFile(file: File): Promise<string | undefined> {
    this.reading++;
    this.showBusy();
    try {
      return await file.text();
    } catch (error) {
      void this.messages.show(`${file.name}: ${String(error)}`);
      return undefined;
    } finally {
      this.reading--;
    }
  }

  private async openFile(file: File): Promise<void> {
    const text = await this.readFile(file);
    if (text === undefined) return;
    const reply = await this.checked({ type: "open", name: file.name, text });
    if (!reply) return;
    const opened = reply.answer;
    this.setTexts("simulation", opened.simulation);
    this.setTexts("species", opened.species);
    this.speciesCount = opened.speciesCount;
    this.selected = opened.speciesCount - 1;
    this.renderSpecies();
    this.clearRun();
    this.columns.append(opened.samples);
    if (opened.note) void this.messages.show(opened.note);
  }

  // ---- kept runs ------------------------------------------------------

  private addKept(overlay: Overlay): void {
    this.kept.push({
      times: overlay.times,
      counts: overlayCounts(overlay),
      concentrations: overlayConcentrations(overlay),
    });
    this.refreshEnabled();
    this.renderKeptLabels();
    this.scheduleDraw();
  }

  private async keepRun(): Promise<void> {
    const reply = await this.checked({ type: "keepRun" });
    if (reply) this.addKept(reply.answer);
  }

  private async compareWith(file: File): Promise<void> {
    const text = await this.readFile(file);
    if (text === undefined) return;
    const reply = await this.checked({ type: "compareWith", name: file.name, text });
    if (reply) this.addKept(reply.answer);
  }

  private async removeKept(index: number): Promise<void> {
    if (!(await this.request({ type: "removeKept", index }))) return;
    this.kept.splice(index, 1);
    this.refreshEnabled();
    this.scheduleDraw();
  }

  private async clearKept(): Promise<void> {
    if (!(await this.request({ type: "clearKept" }))) return;
    this.kept = [];
    this.refreshEnabled();
    this.scheduleDraw();
  }

  // The legend row (with "this run" while runs are kept) and the Runs
  // menu's entries, both named by the engine's labels.
  private renderKeptLabels(): void {
    const labels = this.keptLabels.slice(0, this.kept.length);
    const legend = this.part("legend");
    legend.hidden = labels.length === 0;
    const entry = (colour: string, text: string) =>
      el("span", { class: "entry" }, [
        el("span", { class: "swatch", style: `background:${colour}` }),
        text,
      ]);
    legend.replaceChildren(
      ...(labels.length ? [entry(Colours.inside, this.texts.charts.thisRun)] : []),
      ...labels.map((label, i) => entry(keptColour(i), label)),
    );
    this.part("kept-items").replaceChildren(
      ...labels.map((label, i) =>
        el(
          "button",
          {
            type: "button",
            role: "menuitem",
            "data-action": "remove-kept",
            "data-index": String(i),
          },
          [el("span", { class: "remove", "aria-hidden": "true" }, ["✕"]), label],
        ),
      ),
    );
  }

  // ---- drawing --------------------------------------------------------

  private scheduleDraw(): void {
    if (this.drawQueued) return;
    this.drawQueued = true;
    requestAnimationFrame(this.drawFrame);
  }

  private readonly drawFrame = (now: number): void => {
    // A long run with kept runs beside it can take a while to draw: the
    // pause after a draw grows with it, so that the page stays at hand.
    if (now - this.lastDraw < Math.max(DrawMs, 3 * this.drawCost)) {
      requestAnimationFrame(this.drawFrame);
      return;
    }
    this.lastDraw = now;
    this.drawQueued = false;
    const started = performance.now();
    const { time, concentration, count } = this.columns;
    const keptOf = (pick: (run: KeptRun) => Column) =>
      this.kept.map((run) => ({ times: run.times, values: pick(run) }));
    const kept = this.kept.length;
    const concentrations = keptOf((run) => run.concentrations);
    this.concentrationChart.setData(alignedData(time, concentration, concentrations), kept);
    this.countChart.setData(
      alignedData(
        time,
        count,
        keptOf((run) => run.counts),
      ),
      kept,
    );
    this.drawCost = performance.now() - started;
  };

  private toggleCurves(action: "toggle-band" | "toggle-expected"): void {
    const item = this.part("chart-menu").querySelector<HTMLElement>(`[data-action="${action}"]`)!;
    const shown = item.getAttribute("aria-checked") !== "true";
    item.setAttribute("aria-checked", String(shown));
    for (const chart of [this.concentrationChart, this.countChart]) {
      if (action === "toggle-band") chart.showBand(shown);
      else chart.showExpected(shown);
    }
  }

  private async saveImage(): Promise<void> {
    const chart = this.menuChart;
    if (!chart) return;
    const image = await chart.image();
    const title =
      chart === this.countChart ? this.texts.charts.count : this.texts.charts.concentration;
    if (image) download(`${title.title}.png`, image);
  }

  // ---- the molecule view ----------------------------------------------

  private openMolecules(): void {
    const dialog = this.part<HTMLDialogElement>("molecules");
    if (!dialog.open) dialog.show();
    this.refreshMolecules(true);
  }

  // While the view is open it follows the run at its own pace, and at once
  // after any other change of the engine (a fetch already out is followed
  // by one more).
  private refreshMolecules(changed = false): void {
    const dialog = this.part<HTMLDialogElement>("molecules");
    if (!dialog.open) return;
    if (changed) this.lastMoleculeFetch = -Infinity;
    if (this.moleculeFetch) {
      this.moleculesChanged ||= changed;
      return;
    }
    const now = performance.now();
    if (now - this.lastMoleculeFetch < MoleculeRefreshMs) return;
    this.lastMoleculeFetch = now;
    this.moleculeFetch = this.request({ type: "moleculePicture" }).then((reply) => {
      this.moleculeFetch = null;
      if (reply) this.showMolecules(reply.answer);
      if (this.moleculesChanged) {
        this.moleculesChanged = false;
        this.refreshMolecules(true);
      }
    });
  }

  private showMolecules(picture: MoleculePicture): void {
    drawMolecules(this.part<HTMLCanvasElement>("molecule-canvas"), picture);
    this.part("molecule-caption").textContent = picture.lines.join("\n");
    this.part("molecule-legend").replaceChildren(
      this.texts.moleculeView.legend,
      ...picture.species.map((_, s) =>
        el("span", { class: "entry" }, [
          el("span", { class: "swatch", style: `background:${speciesColour(s)}` }),
          String(s + 1),
        ]),
      ),
    );
  }

  // ---- keys and menus -------------------------------------------------

  private onKey(event: KeyboardEvent): void {
    if (this.messages.open) return;
    if (event.key === "Escape") this.closeMenus();
    const action = this.keys.get(keyOf(event));
    if (!action) return;
    event.preventDefault();
    const control = this.control<HTMLButtonElement>(action);
    if (!control.disabled) this.actions[action]();
  }

  private toggleMenu(menu: HTMLElement, anchor: HTMLElement): void {
    const open = menu.hidden;
    this.closeMenus();
    if (!open) return;
    const box = anchor.getBoundingClientRect();
    this.showMenu(menu, box.left, box.top, true);
  }

  // At the point, or above it, and always inside the window.
  private showMenu(menu: HTMLElement, x: number, y: number, above = false): void {
    menu.hidden = false;
    const { offsetWidth: width, offsetHeight: height } = menu;
    const top = above || y + height > innerHeight ? y - height : y;
    menu.style.left = `${Math.max(0, Math.min(x, innerWidth - width))}px`;
    menu.style.top = `${Math.max(0, Math.min(top, innerHeight - height))}px`;
  }

  private closeMenus(): void {
    for (const menu of this.root.querySelectorAll<HTMLElement>(".menu")) menu.hidden = true;
  }

  // ---- elements -------------------------------------------------------

  private part<E extends HTMLElement = HTMLElement>(role: string): E {
    return this.root.querySelector<E>(`[data-role="${role}"]`)!;
  }

  private control<E extends HTMLElement = HTMLElement>(action: string): E {
    return this.root.querySelector<E>(`[data-action="${action}"]`)!;
  }

  private input(action: "open-file" | "compare-file"): HTMLInputElement {
    return this.control<HTMLInputElement>(action);
  }

  private keyInput(key: string): HTMLInputElement {
    return this.root.querySelector<HTMLInputElement>(`input[data-key="${key}"]`)!;
  }

  private tableInputs(table: "simulation" | "species"): HTMLInputElement[] {
    return [...this.part(`${table}-table`).querySelectorAll<HTMLInputElement>("input[data-key]")];
  }

  private tableTexts(table: "simulation" | "species"): string[] {
    return this.tableInputs(table).map((input) => input.value);
  }

  private setTexts(table: "simulation" | "species", texts: string[]): void {
    this.tableInputs(table).forEach((input, i) => (input.value = texts[i] ?? input.value));
  }
}
