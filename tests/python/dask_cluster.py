"""A Dask cluster on this machine for the tests, started and closed by them."""
import contextlib
import warnings


@contextlib.contextmanager
def local_client(workers, processes):
    """A client of `workers` single-thread workers (processes or threads), closed on leaving."""
    from distributed import Client, LocalCluster

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the cluster's notes on ports and memory
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=processes, dashboard_address=None)
        client = Client(cluster)
    try:
        yield client
    finally:
        client.close()
        cluster.close()
