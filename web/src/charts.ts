// One chart of the run: uPlot with the run's curves, its expected band and
// curve, the kept runs over them, zoom and pan, and a right-click menu.
import uPlot from "uplot";
import "uplot/dist/uPlot.min.css";

export const Colours = {
  reference: "#e00000",
  inside: "#008000",
  band: "rgba(255, 0, 0, 0.13)",
  expected: "#00008b",
  // Kept runs: lighter than the run's own curves, one colour each in turn.
  kept: ["#6fa8dc", "#f6b26b", "#b4a7d6", "#76c7c0", "#ea9999", "#a2c4c9", "#c9c95a", "#999999"],
};

export function keptColour(index: number): string {
  return Colours.kept[index % Colours.kept.length];
}

// Series after the time (0): one per kept run, drawn first so that the
// run's own curves stay on top, then the run's: reference, inside, band
// lower, band upper, expected.
const BandLower = 3;
const BandUpper = 4;
const Expected = 5;

// Every step is a point of its curve; marks on them would hide the curve.
const NoPoints = { show: false };

export interface ChartTexts {
  title: string;
  axis: string;
  time: string;
}

export interface ChartOptions {
  texts: ChartTexts;
  logarithmic: boolean;
  tickLabel: (x: number) => string;
}

function isDecade(x: number): boolean {
  const exponent = Math.log10(x);
  return Math.abs(exponent - Math.round(exponent)) < 1e-9;
}

// The wheel zooms and a drag pans both axes around the pointer; both work in
// pixels, so that a logarithmic axis zooms as evenly as a linear one.
function zoomPanPlugin(onUserRange: () => void): uPlot.Plugin {
  const setPixelRange = (u: uPlot, low: number, high: number, key: string, vertical: boolean) => {
    const a = u.posToVal(low, key);
    const b = u.posToVal(high, key);
    if (!Number.isFinite(a) || !Number.isFinite(b) || a === b) return;
    u.setScale(key, vertical ? { min: b, max: a } : { min: a, max: b });
  };
  const zoom = (u: uPlot, x: number, y: number, factor: number) => {
    const width = u.over.clientWidth;
    const height = u.over.clientHeight;
    u.batch(() => {
      setPixelRange(u, x - x * factor, x + (width - x) * factor, "x", false);
      setPixelRange(u, y - y * factor, y + (height - y) * factor, "y", true);
    });
    onUserRange();
  };
  const pan = (u: uPlot, dx: number, dy: number) => {
    const width = u.over.clientWidth;
    const height = u.over.clientHeight;
    u.batch(() => {
      setPixelRange(u, -dx, width - dx, "x", false);
      setPixelRange(u, -dy, height - dy, "y", true);
    });
    onUserRange();
  };
  return {
    hooks: {
      ready: (u) => {
        const over = u.over;
        over.addEventListener(
          "wheel",
          (event) => {
            event.preventDefault();
            const box = over.getBoundingClientRect();
            const factor = event.deltaY < 0 ? 0.8 : 1.25;
            zoom(u, event.clientX - box.left, event.clientY - box.top, factor);
          },
          { passive: false },
        );
        over.addEventListener("mousedown", (event) => {
          if (event.button !== 0) return;
          let last = { x: event.clientX, y: event.clientY };
          const move = (moved: MouseEvent) => {
            pan(u, moved.clientX - last.x, moved.clientY - last.y);
            last = { x: moved.clientX, y: moved.clientY };
          };
          const up = () => {
            window.removeEventListener("mousemove", move);
            window.removeEventListener("mouseup", up);
          };
          window.addEventListener("mousemove", move);
          window.addEventListener("mouseup", up);
        });
      },
    },
  };
}

// Ranges with the axes drawn before the first step too.
function timeRange(min: number | null, max: number | null): uPlot.Range.MinMax {
  if (min == null || max == null) return [0, 1];
  return min < max ? [min, max] : [min, min + 1];
}

function linearRange(min: number | null, max: number | null): uPlot.Range.MinMax {
  if (min == null || max == null) return [0, 1];
  return uPlot.rangeNum(min, max, 0.1, true);
}

function logRange(min: number | null, max: number | null): uPlot.Range.MinMax {
  if (min == null || max == null || !(min > 0)) return [1, 10];
  return uPlot.rangeLog(min, max, 10, true);
}

export class RunChart {
  readonly plot: uPlot;
  // Set by the wheel or a drag: new points then leave the view as it is.
  private zoomed = false;
  private keptCount = 0;
  private data: uPlot.AlignedData = [[], [], [], [], [], []];

  constructor(
    readonly host: HTMLElement,
    private readonly options: ChartOptions,
  ) {
    const { texts, logarithmic, tickLabel } = options;
    // A logarithmic axis names its decades only, as the window's does.
    const label = (values: (number | null)[], decadesOnly: boolean) =>
      values.map((x) => (x == null || (decadesOnly && !isDecade(x)) ? "" : tickLabel(x)));
    const stepped = uPlot.paths.stepped!({ align: 1 });
    this.plot = new uPlot(
      {
        title: texts.title,
        ...this.size(),
        legend: { show: false },
        cursor: { drag: { x: false, y: false, setScale: false }, bind: { dblclick: () => null } },
        scales: {
          x: { time: false, range: (_u, min, max) => timeRange(min, max) },
          y: logarithmic
            ? { distr: 3, range: (_u, min, max) => logRange(min, max) }
            : { range: (_u, min, max) => linearRange(min, max) },
        },
        axes: [
          {
            label: texts.time || undefined,
            size: 28,
            labelSize: 18,
            values: (_u, splits) => label(splits, false),
          },
          { label: texts.axis, values: (_u, splits) => label(splits, logarithmic), size: 60 },
        ],
        series: [
          {},
          { stroke: Colours.reference, width: 1, points: NoPoints },
          { stroke: Colours.inside, width: 1, points: NoPoints },
          { stroke: "transparent", auto: false, paths: stepped, points: NoPoints },
          { stroke: "transparent", auto: false, paths: stepped, points: NoPoints },
          { stroke: Colours.expected, width: 1.5, dash: [6, 4], auto: false, points: NoPoints },
        ],
        bands: [this.band()],
        plugins: [zoomPanPlugin(() => (this.zoomed = true))],
      },
      this.data,
      host,
    );
    this.plot.over.addEventListener("dblclick", () => this.autoRange());
    new ResizeObserver(() => this.plot.setSize(this.size())).observe(host);
  }

  // uPlot's height leaves out its title, which sits above the plot.
  private size(): { width: number; height: number } {
    const title = this.plot?.root.querySelector<HTMLElement>(".u-title")?.offsetHeight ?? 24;
    return {
      width: Math.max(100, this.host.clientWidth),
      height: Math.max(80, this.host.clientHeight - title),
    };
  }

  // The curves start again (Apply, Open): so do the automatic ranges.
  unzoom(): void {
    this.zoomed = false;
  }

  autoRange(): void {
    this.zoomed = false;
    this.plot.setData(this.data, true);
  }

  get isZoomed(): boolean {
    return this.zoomed;
  }

  // The kept runs' columns, then the run's (alignedData's order).
  setData(data: uPlot.AlignedData, keptCount: number): void {
    this.matchKept(keptCount);
    this.data = data;
    this.plot.setData(data, !this.zoomed);
  }

  private matchKept(count: number): void {
    if (count === this.keptCount) return;
    while (this.keptCount > count) this.plot.delSeries(this.keptCount--);
    while (this.keptCount < count) {
      this.plot.addSeries(
        { stroke: keptColour(this.keptCount), width: 1, points: NoPoints },
        1 + this.keptCount++,
      );
    }
    this.plot.setBand(0, this.band());
  }

  private band(): uPlot.Band {
    return {
      series: [BandUpper + this.keptCount, BandLower + this.keptCount],
      fill: () => Colours.band, // setBand takes no colour text, only this form
    };
  }

  showBand(shown: boolean): void {
    this.plot.setSeries(BandLower + this.keptCount, { show: shown });
    this.plot.setSeries(BandUpper + this.keptCount, { show: shown });
  }

  showExpected(shown: boolean): void {
    this.plot.setSeries(Expected + this.keptCount, { show: shown });
  }

  // The chart as shown, with its title, on white.
  image(): Promise<Blob | null> {
    const plotCanvas = this.plot.ctx.canvas;
    const ratio = uPlot.pxRatio;
    const titleHeight = Math.round(24 * ratio);
    const canvas = document.createElement("canvas");
    canvas.width = plotCanvas.width;
    canvas.height = plotCanvas.height + titleHeight;
    const ctx = canvas.getContext("2d")!;
    ctx.fillStyle = "#fff";
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    ctx.fillStyle = "#000";
    ctx.font = `${Math.round(13 * ratio)}px system-ui, sans-serif`;
    ctx.textAlign = "center";
    ctx.textBaseline = "middle";
    ctx.fillText(this.options.texts.title, canvas.width / 2, titleHeight / 2);
    ctx.drawImage(plotCanvas, 0, titleHeight);
    return new Promise((done) => canvas.toBlob(done, "image/png"));
  }
}
