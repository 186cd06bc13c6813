# The median of a space-separated list of numbers, for the benchmark scripts' tables.
function median(list,   n, i, j, t, a) { n = split(list, a, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] + 0 < a[i] + 0) { t = a[i]; a[i] = a[j]; a[j] = t }
    return a[int((n + 1) / 2)] }
