"""The chart's indicators computed the way a chart user would with pandas and numpy.

Reads a snapshot series (time in days, last price, cumulative volume) from a CSV file and
computes, for the whole series, the same indicators as the chart: at every snapshot the
10-minute SMA and Bollinger bands as the mean and population deviation of 20 prices sampled
(interpolated) over the period; a one-minute grid of interpolated prices and volumes from the
first snapshot with a 10-period EMA, a slow stochastic (5, 10, 3) and the volume per minute on
it; and the price-volume trend rescaled into the price range. Prints the best of REPS timings
of that computation alone (the file is read before timing) as "pandas_ms=<value>", then the
last SMA and upper band as "sma_last=" and "upper_last=" for comparison.
"""
import sys
import time

import numpy as np
import pandas as pd


PERIOD = 10.0
SAMPLES = 20


def compute(times, last, volume):
    step = PERIOD / 1440.0 / SAMPLES
    at = times[:, None] - step * np.arange(SAMPLES - 1, -1, -1)[None, :]
    samples = np.interp(at, times, last)
    valid = at[:, 0] >= times[0]
    mean = np.where(valid, samples.mean(axis=1), np.nan)
    sd = samples.std(axis=1)
    upper = mean + 2 * sd
    lower = mean - 2 * sd

    grid = np.arange(times[0], times[-1], 1.0 / 1440.0)
    gp = pd.Series(np.interp(grid, times, last))
    gv = np.interp(grid, times, volume)
    ema = gp.ewm(span=10, adjust=False).mean()
    hi = gp.rolling(5, min_periods=1).max()
    lo = gp.rolling(5, min_periods=1).min()
    hi = hi.where(hi > lo, lo + 0.001)
    num = (gp - lo).rolling(10, min_periods=1).mean()
    den = (hi - lo).rolling(10, min_periods=1).mean()
    k = 100 * num / den
    d = k.rolling(3, min_periods=1).mean()
    bars = np.diff(gv)

    dt = np.diff(times) * 1440.0
    rate = np.divide(np.diff(volume), dt, out=np.zeros_like(dt), where=dt != 0)
    step = np.diff(last) / last[:-1] * rate
    pvt = np.concatenate(([last[0]], last[0] + np.cumsum(step)))
    pmin, pmax = last.min(), last.max()
    span = pvt.max() - pvt.min() or 0.02
    pvt = (pvt - pvt.min()) * (pmax - pmin) * 13 / 15 / span + pmin + (pmax - pmin) / 15
    return mean, upper, lower, ema, k, d, bars, pvt


def main():
    path, reps = sys.argv[1], int(sys.argv[2])
    frame = pd.read_csv(path)
    times = frame["time"].to_numpy(dtype=float)
    last = frame["last"].to_numpy(dtype=float)
    volume = frame["volume"].to_numpy(dtype=float)
    best = float("inf")
    for _ in range(reps):
        start = time.perf_counter()
        result = compute(times, last, volume)
        best = min(best, time.perf_counter() - start)
    print(f"pandas_ms={best * 1e3:.3f}")
    print(f"sma_last={result[0][-1]:.10f}")
    print(f"upper_last={result[1][-1]:.10f}")


if __name__ == "__main__":
    main()
