"""The plot of one simulated run for sim/report.py: wheel speeds, decoded
motor commands and heading over time, moves marked."""
import os

from report_log import FULL, KINDS


def plot(run_dir, states, heading, frames, spans, kinds, marks=()):
    """spans: each move's first and last driving frame; marks: (time, label,
    colour) of moments to draw across all three panels (a fault's injection,
    the stop after it)."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    t = [s[0] for s in states]
    fig, ax = plt.subplots(3, 1, sharex=True, figsize=(11, 7.5), dpi=90)
    ax[0].plot(t, [s[4] for s in states], label="left", color="tab:blue", lw=1)
    ax[0].plot(t, [s[5] for s in states], label="right", color="tab:red", lw=1)
    ax[0].set_ylabel("true wheel speed (cm/s)")
    ax[1].step([f[0] for f in frames], [f[1] for f in frames], where="post", label="left",
               color="tab:blue", lw=1)
    ax[1].step([f[0] for f in frames], [f[2] for f in frames], where="post", label="right",
               color="tab:red", lw=1)
    ax[1].axhline(FULL, color="grey", lw=0.6, ls=":")
    ax[1].axhline(-FULL, color="grey", lw=0.6, ls=":")
    ax[1].set_ylabel("motor command")
    ax[2].plot(t, heading, color="black", lw=1)
    ax[2].set_ylabel("heading (°)")
    ax[2].set_xlabel("time (s)")
    for n, ((start, end), kind) in enumerate(zip(spans, kinds), start=1):
        for axis in ax:
            axis.axvspan(start, end, color="tab:green" if n % 2 else "tab:olive", alpha=0.08)
        # Short moves sit close together: alternate the label heights.
        ax[0].annotate(f"{n} {KINDS[kind]}", (start, 1.0 if n % 2 else 0.92),
                       xycoords=("data", "axes fraction"), fontsize=7, va="top")
    for when, label, colour in marks:
        for axis in ax:
            axis.axvline(when, color=colour, lw=1.2, ls="--")
        ax[2].annotate(f"{label} {when:.2f} s", (when, 0.05), xycoords=("data", "axes fraction"),
                       fontsize=7, color=colour, rotation=90, va="bottom", ha="right")
    ax[0].legend(loc="upper right", fontsize=8)
    ax[1].legend(loc="upper right", fontsize=8)
    for axis in ax:
        axis.grid(True, lw=0.3)
    fig.suptitle(os.path.basename(os.path.abspath(run_dir)), fontsize=9)
    fig.tight_layout()
    fig.savefig(os.path.join(run_dir, "plot.png"))
    plt.close(fig)
