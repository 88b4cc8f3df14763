#!/usr/bin/python3
"""Graphite's whisper under the comparative benchmark, with the same workload
and the same figures as compare_driver (one JSON line):

    whisper_driver.py DIR SERIES MINUTES WORKLOAD CHECK
"""
import array
import json
import math
import os
import sys
import time

import whisper

START = 1699999980  # a whole minute
BATCH = 60  # samples per series per write: an hour
DAY = 86400
MONTH = 30 * DAY
RETENTIONS = [(60, 1440), (300, 2016), (3600, 8760)]


def main():
    directory, series, minutes, workload, check = sys.argv[1:6]
    series, minutes = int(series), int(minutes)
    path = [os.path.join(directory, "%d.wsp" % s) for s in range(series)]
    for p in path:
        whisper.create(p, RETENTIONS, xFilesFactor=0.5, aggregationMethod="average")

    began = time.monotonic()
    with open(workload, "rb") as f:
        for first in range(0, minutes, BATCH):
            # The hour's samples, series after series (as compare_driver writes them).
            hour = array.array("f")
            hour.fromfile(f, series * BATCH)
            for s in range(series):
                points = [(START + (first + i) * 60, hour[s * BATCH + i]) for i in range(BATCH)
                          if not math.isnan(hour[s * BATCH + i])]
                # The hour arrives when it ends, as it would from a live source.
                whisper.update_many(path[s], points, now=START + (first + BATCH) * 60)
    ingest = time.monotonic() - began

    end = START + minutes * 60
    day_values = 0
    began = time.monotonic()
    for s in range(series):
        _, read = whisper.fetch(path[s], end - DAY, end, now=end)
        day_values += len(read)
    day = time.monotonic() - began
    # The same reads again, untimed, for the agreement check.
    with open(check, "w") as out:
        for s in range(series):
            (first, _, step), read = whisper.fetch(path[s], end - DAY, end, now=end)
            for i, v in enumerate(read):
                out.write("%d %d %d %s\n" % (s, first + i * step, step,
                                            "nan" if v is None else repr(v)))

    month_values = 0
    began = time.monotonic()
    for s in range(series):
        _, read = whisper.fetch(path[s], end - MONTH, end, now=end)
        month_values += len(read)
    month = time.monotonic() - began

    size = sum(os.stat(p).st_size for p in path)
    with open("/proc/self/io") as f:
        written = next(int(line.split()[1]) for line in f if line.startswith("write_bytes:"))
    print(json.dumps({"system": "whisper", "samples": series * minutes, "ingest_s": ingest,
                      "day_values": day_values, "day_s": day, "month_values": month_values,
                      "month_s": month, "bytes": size, "write_bytes": written}))


if __name__ == "__main__":
    main()
