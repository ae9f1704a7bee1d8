// ZRRuntime: implementation to come.
