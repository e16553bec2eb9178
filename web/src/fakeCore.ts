// A stand-in for the engine, for developing the page and its tests where the
// WebAssembly build is not at hand (KELVANE_CORE=fake). Its texts and numbers
// only look like the engine's; nothing of it reaches a real build.
import type {
  KelvaneCore,
  KeptRunReply,
  MoleculePicture,
  OpenReply,
  PageCore,
  UiTexts,
} from "kelvane-core";

const control = (caption: string, tip: string, key = "") => ({ caption, tip, key });

const texts: UiTexts = {
  title: "Kelvane (fake core)",
  simulationTable: { title: "Simulation Parameters", value: "Value" },
  speciesTable: { title: "Species Parameters", value: "Value" },
  speciesGroup: "Species",
  speciesItem: "Species 1",
  simulationRows: [
    { key: "SIM_B0", caption: "External Cube Rib [m]", initial: "1E-5" },
    { key: "SIM_B1", caption: "Internal Cube Rib [m]", initial: "1E-6" },
    { key: "SIM_Q", caption: "Dynamic Viscosity [Pa s]", initial: "0.001" },
    { key: "SIM_T", caption: "Temperature [K]", initial: "293.15" },
    { key: "SIM_DT", caption: "Simulation Time Step [s]", initial: "0.0001" },
  ],
  speciesRows: [
    { key: "SP_C", caption: "Concentration [m-3]", initial: "7.2E20" },
    { key: "SP_A", caption: "Molecule Radius [m]", initial: "1.5E-9" },
    { key: "SP_D", caption: "Diffusion Coefficient [m2/s]", initial: "1.43E-10" },
  ],
  controls: {
    apply: control("Apply", "Apply the simulation parameters", "Ctrl+Return"),
    "start-pause": control("", "Start or pause the run", "F5"),
    c1: control("C1(t)", "Write the concentration inside", "Ctrl+1"),
    n1: control("N1(t)", "Write the molecules inside", "Ctrl+2"),
    "export-run": control("Export run...", "Every step as one CSV file", "Ctrl+E"),
    molecules: control("Molecules...", "Open the molecule view", "Ctrl+M"),
    open: control("Open...", "Open a session file or a run CSV", "Ctrl+O"),
    save: control("Save...", "Save the parameters and species", "Ctrl+S"),
    "keep-run": control("Keep run", "Keep this run's curves", "Ctrl+K"),
    runs: control("Runs", "Compare with a run CSV, remove kept runs"),
    compare: control("Compare with file...", "Show a run CSV's curves", "Ctrl+Shift+O"),
    "clear-kept": control("Clear kept runs", "Remove every kept run", "Ctrl+Shift+K"),
    "add-species": control("+ Species", "Add a species"),
    "remove-species": control("- Species", "Remove the selected species"),
    "apply-species": control("Apply Species", "Place the selected species anew"),
    "recalc-d": control("Recalculate Diffusion Coefficient", "From the radius"),
    "recalc-radius": control("Recalculate Molecule Radius", "From the diffusion coefficient"),
  },
  speeds: ["×1", "×10", "×100", "Max"],
  speedTip: "Run speed",
  readoutTip: "t: simulated time; mean: of the inside count",
  charts: {
    concentration: { title: "Concentration", axis: "C(t)" },
    count: { title: "Number of Molecules", axis: "N(t)" },
    time: "t, s",
    band: "Expected band (ref ± 2σ)",
    expected: "Expected curve (diffusion equation)",
    saveImage: "Save image...",
    thisRun: "this run",
  },
  files: { c1: "C1(t).txt", n1: "N1(t).txt", run: "run.csv", session: "session.kelvane" },
  moleculeView: { title: "Molecules", legend: "Species:" },
};

function tickLabel(x: number): string {
  if (x === 0) return "0E0";
  const exponent = Math.floor(Math.log10(Math.abs(x)));
  const mantissa = Number((x / 10 ** exponent).toPrecision(2));
  return `${mantissa}E${exponent}`;
}

class FakePageCore implements PageCore {
  private species = [["7.2E20", "1.5E-9", "1.43E-10"]];
  private steps: number[][] = [];
  private dt = 1e-4;
  private kept = 0;

  speciesCount() {
    return this.species.length;
  }
  apply(simulation: string[]) {
    if (simulation.some((text) => !Number.isFinite(Number(text)))) return "Not a number";
    this.dt = Number(simulation[4]);
    this.steps = [];
    return "";
  }
  addSpecies() {
    if (this.species.length >= 4) return "At most 4 species";
    this.species.push(["7.2E20", "1.5E-9", "1.43E-10"]);
    return "";
  }
  removeSpecies(selected: number) {
    if (this.species.length > 1) this.species.splice(selected, 1);
    return "";
  }
  applySpecies(texts: string[], selected: number) {
    if (texts.some((text) => !Number.isFinite(Number(text)))) return "Not a number";
    this.species[selected] = [...texts];
    return "";
  }
  speciesTexts(index: number) {
    return [...this.species[index]];
  }
  recalcDiffusion(radius: string) {
    return { text: tickLabel(2.14e-19 / Number(radius)), error: "" };
  }
  recalcRadius(diffusion: string) {
    return { text: tickLabel(2.14e-19 / Number(diffusion)), error: "" };
  }
  private sample(index: number): number[] {
    const t = index * this.dt;
    const ref = 720;
    const expected = ref * (1 - Math.exp(-t / 0.04));
    const inside = Math.max(
      0,
      Math.round(expected + Math.sqrt(expected + 1) * (Math.random() - 0.5) * 3),
    );
    const volume = 1e-18;
    return [
      t,
      ref / volume,
      inside / volume,
      ref,
      inside,
      ref - 54,
      ref + 54,
      expected,
      (ref - 54) / volume,
      (ref + 54) / volume,
      expected / volume,
    ];
  }
  step(count: number, budgetMs: number) {
    const start = performance.now();
    const out: number[] = [];
    let taken = 0;
    do {
      // A step of the engine takes a while; the page should see that pace.
      for (const until = performance.now() + 0.2; performance.now() < until;);
      const row = this.sample(this.steps.length);
      this.steps.push(row);
      out.push(...row);
      taken++;
    } while ((count < 0 || taken < count) && performance.now() - start < budgetMs);
    return { samples: Float64Array.from(out), error: "" };
  }
  readout() {
    const last = this.steps.at(-1);
    if (!last) return "t 0 s, step 0";
    return `t ${last[0].toFixed(4)} s, step ${this.steps.length}\ninside ${last[4]}, ref 720±54`;
  }
  curveText(which: "c1" | "n1") {
    const column = which === "c1" ? 2 : 4;
    return this.steps.map((row) => `${row[0]}\t${row[column]}`).join("\n") + "\n";
  }
  runCsv() {
    return "time,inside\n" + this.steps.map((row) => `${row[0]},${row[4]}`).join("\n") + "\n";
  }
  sessionText(simulation: string[], species: string[]) {
    return { text: [...simulation, ...species].join("\n") + "\n", error: "" };
  }
  open(name: string, text: string): OpenReply {
    const lines = text.trim().split("\n");
    const fail = {
      error: `${name}: not a session`,
      note: "",
      simulation: [],
      species: [],
      speciesCount: 0,
      samples: new Float64Array(),
    };
    if (lines.length < 8 || lines.slice(0, 8).some((l) => !Number.isFinite(Number(l)))) return fail;
    this.steps = [];
    this.species = [lines.slice(5, 8)];
    return {
      error: "",
      note: "",
      simulation: lines.slice(0, 5),
      species: lines.slice(5, 8),
      speciesCount: 1,
      samples: new Float64Array(),
    };
  }
  private keptOf(rows: number[][]): KeptRunReply {
    if (rows.length === 0)
      return {
        error: "The run has no steps to keep yet",
        times: new Float64Array(),
        counts: new Float64Array(),
        concentrations: new Float64Array(),
      };
    this.kept++;
    return {
      error: "",
      times: Float64Array.from(rows, (r) => r[0]),
      counts: Float64Array.from(rows, (r) => r[4]),
      concentrations: Float64Array.from(rows, (r) => r[2]),
    };
  }
  keepRun() {
    return this.keptOf(this.steps);
  }
  compareWith(name: string, text: string) {
    const rows = text
      .trim()
      .split("\n")
      .slice(1)
      .map((line) => line.split(",").map(Number));
    if (rows.some((r) => r.length < 2 || r.some(Number.isNaN)))
      return { ...this.keptOf([]), error: `${name}: not a run CSV` };
    return this.keptOf(rows.map(([t, n]) => [t, 0, n * 1e18, 0, n]));
  }
  removeKept() {
    this.kept--;
  }
  clearKept() {
    this.kept = 0;
  }
  keptLabels() {
    return Array.from({ length: this.kept }, (_, i) => `kept ${i + 1}: D ${this.species[0][2]}`);
  }
  moleculePicture(): MoleculePicture {
    const points = (n: number) => Float32Array.from({ length: 2 * n }, () => Math.random() * 2 - 1);
    return {
      drawable: true,
      lines: ["Slab seen from +z", `${this.steps.length} steps`],
      species: this.species.map(() => points(4000)),
      wall: Float32Array.from({ length: 400 }, (_, i) =>
        i % 2 ? Math.random() * 2 - 1 : i % 4 ? 1 : -1,
      ),
      innerRib: 0.1,
    };
  }
  delete() {}
}

const fake: KelvaneCore = { uiTexts: () => texts, tickLabel, PageCore: FakePageCore };

export default function createKelvaneCore(): Promise<KelvaneCore> {
  return Promise.resolve(fake);
}
