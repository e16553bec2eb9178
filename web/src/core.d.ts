// The engine and the session library compiled to WebAssembly (web/core,
// built by scripts/web.sh into build-web/core/kelvane_core.{js,wasm}, imported
// as "kelvane-core" and "kelvane-core/kelvane_core.wasm?url"): an ES module whose default export makes the module. The worker holds the one
// PageCore; the page's own thread loads a second module only for the pure
// functions (texts, tick labels), which never touch an engine.
//
// Every text a user sees (captions, tooltips, messages, readout, legends)
// comes from here; the page never retypes one. Messages are returned, never
// thrown: `error` is the window's message box text, and when it is set
// nothing changed.

declare module "kelvane-core" {
  export interface TableRowText {
    key: string; // "SIM_B0" ... "SP_D"
    caption: string; // "External Cube Rib [m]"
    initial: string; // the text the table starts with: "1E-5"
  }

  export interface ControlText {
    caption: string; // "Apply", "+ Species"; "" for the start/pause button (an icon)
    tip: string; // the tooltip, without the key
    key: string; // the window's key as the window names it ("Ctrl+Return", "F5"); "" for none
  }

  export interface UiTexts {
    title: string; // "Kelvane"
    simulationTable: { title: string; value: string }; // "Simulation Parameters", "Value"
    speciesTable: { title: string; value: string }; // "Species Parameters", "Value"
    speciesGroup: string; // "Species"
    speciesItem: string; // the text of every species list item: "Species 1"
    simulationRows: TableRowText[]; // in display order
    speciesRows: TableRowText[]; // SP_C, SP_A, SP_D
    // By data-action: apply, start-pause, c1, n1, export-run, molecules, open,
    // save, keep-run, runs, compare, clear-kept, add-species, remove-species,
    // apply-species, recalc-d, recalc-radius
    controls: Record<string, ControlText>;
    speeds: string[]; // ["×1", "×10", "×100", "Max"]
    speedTip: string;
    readoutTip: string;
    charts: {
      concentration: { title: string; axis: string }; // "Concentration", "C(t)"
      count: { title: string; axis: string }; // "Number of Molecules", "N(t)"
      time: string; // the time axis' title ("" when the window has none)
      band: string; // "Expected band (ref ± 2σ)": menu entry that shows/hides the band
      expected: string; // "Expected curve (diffusion equation)"
      saveImage: string; // "Save image..."
      thisRun: string; // "this run": the legend entry of the run now while runs are kept
    };
    files: {
      c1: string; // "C1(t).txt"
      n1: string; // "N1(t).txt"
      run: string; // "run.csv"
      session: string; // "session.kelvane"
    };
    moleculeView: { title: string; legend: string }; // the view's title; "Species:" before the colours
  }

  // Samples: SampleWidth doubles per step, in the run's order:
  //  0 time [s]
  //  1 reference concentration (red, concentration chart)   2 inside concentration (green)
  //  3 reference count (red, count chart)                    4 inside count (green)
  //  5 band lower, 6 band upper [molecules] (NaN: no band at that step)
  //  7 expected count [molecules] (NaN: none)
  //  8 band lower, 9 band upper, 10 expected, per volume of the inner cube [m^-3]
  // (web/src/protocol.ts: SampleWidth = 11)

  export interface StepReply {
    samples: Float64Array; // the steps taken, SampleWidth each
    error: string; // a step that failed: its message ("" none); the run must pause
  }

  export interface OpenReply {
    error: string; // "" when the file opened; otherwise nothing changed
    note: string; // a note to show after opening ("" none)
    simulation: string[]; // the simulation table's five texts, in display order
    species: string[]; // the species table's three texts (SP_C, SP_A, SP_D)
    speciesCount: number; // the list's items; the last one is selected
    samples: Float64Array; // every step of the opened run, as StepReply's
  }

  export interface KeptRunReply {
    error: string;
    // The run added, to draw over both charts (one point per step).
    times: Float64Array;
    counts: Float64Array;
    concentrations: Float64Array;
  }

  export interface MoleculePicture {
    drawable: boolean; // false: an empty frame
    lines: string[]; // the lines above the picture, as the window writes them
    // Points in units of the outer rib, -1 .. 1, y upwards: u0 v0 u1 v1 ...
    species: Float32Array[]; // per species
    wall: Float32Array; // drawn over the others, in the wall colour
    innerRib: number; // in units of the outer rib (0 .. 1)
  }

  export interface PageCore {
    // Made as the window starts: the default parameters applied, one species.
    speciesCount(): number;
    // The window's Apply: the five simulation texts in display order. On
    // success the run starts again at time 0 (clear the charts).
    apply(simulation: string[]): string; // the message, "" on success
    // The species buttons; `texts` the species table's (SP_C, SP_A, SP_D),
    // `selected` the selected list item (single selection, -1: none).
    // "+ Species" adds a species with the default values whatever the table
    // holds (as the window does); on success one more item, selected, and the
    // table shows speciesTexts(of it); on failure the table shows the item
    // selected before.
    addSpecies(texts: string[], selected: number): string;
    removeSpecies(selected: number): string; // leaves at least one; selects item 0
    applySpecies(texts: string[], selected: number): string;
    // What the species table shows for a list item: the engine's values.
    speciesTexts(index: number): string[];
    // The Recalculate buttons: the new text of SP_D (from the radius text) or
    // SP_A (from the diffusion text).
    recalcDiffusion(radiusText: string): { text: string; error: string };
    recalcRadius(diffusionText: string): { text: string; error: string };
    // Steps: at most `count` steps (count < 0: no limit) while less than
    // `budgetMs` of wall time has gone, at least one.
    step(count: number, budgetMs: number): StepReply;
    // The readout's text as of the last change or step.
    readout(): string;
    // The files, as the window writes them.
    curveText(which: "c1" | "n1"): string;
    runCsv(): string;
    // Save session: the tables' texts as the window would save them.
    sessionText(
      simulation: string[],
      speciesTexts: string[],
      selected: number,
    ): { text: string; error: string };
    // Open: a session file or a run CSV, by its name and text; all or nothing.
    open(name: string, text: string): OpenReply;
    // Kept runs: keep the run now; compare with a run CSV's text; remove; clear.
    keepRun(): KeptRunReply;
    compareWith(name: string, text: string): KeptRunReply;
    removeKept(index: number): void;
    clearKept(): void;
    // The legend label of each kept run against the run now ("kept 1: D 7.15E-11").
    keptLabels(): string[];
    moleculePicture(): MoleculePicture;
    delete(): void;
  }

  export interface KelvaneCore {
    uiTexts(): UiTexts;
    // The axis tick label of the window's charts: "7.2E2", "1E-4".
    tickLabel(x: number): string;
    PageCore: { new (): PageCore };
  }

  const createKelvaneCore: (options?: {
    locateFile?: (path: string, prefix: string) => string;
  }) => Promise<KelvaneCore>;
  export default createKelvaneCore;
}
