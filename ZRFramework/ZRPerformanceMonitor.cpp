// ZRPerformanceMonitor: implementation to come.
