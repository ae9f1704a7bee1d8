// ZRLogger: implementation to come.
